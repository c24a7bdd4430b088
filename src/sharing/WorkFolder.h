#pragma once

// The working folder of one share: "share-<UUID>" (canonical upper-case form) inside the
// temporary folder, created at construction (throws std::runtime_error when it cannot be) and
// removed with its contents at destruction; errors of the removal are ignored.
//
// A share folder holds a full render of the clip, in memory where the temporary folder is a
// tmpfs, so one left behind by a quit or a crash must not stay. Each folder therefore carries
// "owner.lock": the owner's process id as text, in a file the owner keeps locked (flock) for
// the folder's whole life. The lock dies with its process, so a folder whose lock can be taken
// belongs to a process that ended, whichever process has its id by now; the id only tells this
// process its own folders from those of another live process. A "share-" folder without that
// file, or of another user, is never touched. (A QTemporaryDir is removed only by a destructor
// that runs, and carries no mark a later process could tell an ended owner by.)
//
// Threads: any; one object is used by one thread at a time.

#include <QDir>
#include <QString>

namespace vantel {

class WorkFolder {
public:
    explicit WorkFolder(const QString& parent = QDir::tempPath());
    ~WorkFolder();
    WorkFolder(const WorkFolder&) = delete;
    WorkFolder& operator=(const WorkFolder&) = delete;

    const QString& path() const { return m_path; }
    QString file(const QString& name) const { return m_path + u'/' + name; }

    enum class Whose {
        ended,       // of processes that ended (at start)
        endedAndOwn, // and of this process (at quit: its shares were stopped and end here)
    };
    // Removes the share folders in `parent` that `whose` names. Returns how many went.
    static int removeLeftovers(Whose whose, const QString& parent = QDir::tempPath());

private:
    QString m_path;
    int m_lock = -1; // the open, locked "owner.lock"
};

} // namespace vantel
