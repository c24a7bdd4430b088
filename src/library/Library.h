#pragma once

// The clip library: the video files below the clip folder merged with the metadata index
// "library.json" in the support folder, published to the windows as a whole list.
//
// Files are the truth: every non-hidden entry below the folder whose extension is mp4, mov or
// m4v (any case) is a clip; the index only adds what a file name cannot tell. An index entry
// whose file is gone stays in the index, unlisted, until the file comes back. Clips being
// written are hidden partial files (media/PartialFile.h), so they are never listed; the ones a
// killed process left behind are removed when the library is created.
//
// A file without an entry (copied in, or its entry lost) is listed at once as `checking`; then
// the library reads its length, size and tracks, once, and keeps them in the index, or marks it
// `unplayable` (remembered for this size and modification time, not written).
//
// Clip key: the full path with every occurrence of "<folder>/" removed, computed with the folder
// of the moment, so entries of an earlier folder stop matching after a folder change.
//
// Threads: every call may come from any thread and returns without walking the folder or
// writing a file: add(), update() and the end of deleteClip() change the memory copy of the index
// (m_mutex guards it and the requests below) and ask the library's own thread for the rest. That
// thread writes the index, walks the folder, reads the facts of new files and hands each list to
// the main thread with a queued call; requests that pile up while it works are served together.
// clips() is main thread only. The object itself lives on the main thread; destroying it (or the
// application quitting) waits for a pending index write, not for a walk.
//
// Errors: a missing folder lists nothing; a failed index write keeps the memory copy for the next
// write. deleteClip() throws when the file cannot be moved to the Trash, and then keeps the
// entry and the thumbnail. An index file with entries that do not decode keeps every entry that
// does: the damaged file is copied to "library.json.bad-<UTC time>" (never replacing an older
// copy), a sound index is written in its place, and problem() tells the user once.

#include "Clip.h"

#include <QCoro/QCoroTask>
#include <QFileInfo>
#include <QImage>
#include <QList>
#include <QObject>
#include <QThreadPool>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

template <typename T> class QPromise;

namespace vantel {

class Settings;

class Library : public QObject {
    Q_OBJECT
public:
    struct Places {
        std::function<QString()> folder; // the clip folder, asked at every walk and key
        QString appSupport;              // holds "library.json" and "thumbs"
    };

    // The places of the program's library: the clip folder of `settings` (followed as it
    // changes) and the support folder. `settings` must outlive the library.
    static Places placesOf(Settings& settings);
    // The program's library over placesOf(Settings::shared()); created on first use, never
    // destroyed. Only the settings window still reaches it this way.
    static Library& shared();

    // Loads the index, creates the thumbnail folder and asks for the first walk.
    explicit Library(Places places, QObject* parent = nullptr);
    ~Library() override;

    // Main thread: the list as last published, newest first.
    QList<Clip> clips() const { return m_clips; }

    QString folder() const;
    QString indexPath() const { return m_indexPath; }
    QString thumbs() const { return m_thumbs; }
    QString key(const QString& url) const;
    QString thumbURL(const QString& url) const;

    // Rescans the folder; the new list is published later on the main thread.
    void reload();
    // Stores `meta` under the key of `url`; the index is written and the folder rescanned later.
    void add(const QString& url, const ClipMeta& meta);
    // Changes the indexed metadata of `url`, or its listed default metadata; nothing when the
    // clip is neither indexed nor listed. Written and published later, like add().
    void update(const QString& url, const std::function<void(ClipMeta&)>& change);
    // Moves the file to the Trash, then forgets its entry and thumbnail (written and published
    // later). A file already gone is forgotten all the same. Throws std::runtime_error with the
    // user's text when the file is there and cannot be moved; nothing is forgotten then. Blocks
    // on the file system: call it off the main thread.
    void deleteClip(const Clip& clip);
    // Resumes (on the awaiting thread) once everything asked of the library before the call is
    // written and its list published on the main thread; facts of new files may still follow.
    QCoro::Task<> settled();
    // Writes what is pending and waits for it; no walk starts after this. The program's quit.
    void flush();

    // The cached thumbnail, else one made from the frame at 0.5 s (and cached); nothing when no
    // frame can be made. Runs off the main thread; resumes on the caller's thread.
    QCoro::Task<std::optional<QImage>> thumbnail(Clip clip);
    // The same, done on the calling thread (any thread; it blocks while a frame is decoded).
    std::optional<QImage> loadThumbnail(const Clip& clip) const;

signals:
    void clipsChanged(const QList<vantel::Clip>& clips);
    // Something the user should hear about, as a toast: emitted on the main thread.
    void problem(const QString& title, const QString& detail);

private:
    struct FileStamp {
        qint64 size = -1;
        qint64 modified = 0;
        bool operator==(const FileStamp&) const = default;
    };
    struct Found {
        QString path;
        QString key;
        ClipMeta defaults;
        FileStamp stamp;
    };
    struct Round; // what one turn of the library's thread takes on

    void load();
    void keepDamaged(const QByteArray& bytes, int unreadEntries, bool unreadRest);
    void askLocked();
    void work();
    bool takeRound(Round& round);
    void writeIndex(const QHash<QString, ClipMeta>& index);
    QList<Found> walk(const QString& folder) const;
    ClipMeta defaultMeta(const QString& folder, const QFileInfo& info) const;
    QList<Clip> merge(const QHash<QString, ClipMeta>& index, std::vector<qsizetype>& unread) const;
    void readFacts(const QList<Clip>& list, const std::vector<qsizetype>& unread);
    void publish(const QList<Clip>& list);

    // Set at construction, read by any thread.
    Places m_places;
    QString m_indexPath;
    QString m_thumbs;

    std::mutex m_mutex;
    // The following fields are protected by m_mutex.
    QHash<QString, ClipMeta> m_index;
    QList<Clip> m_lastScan;
    bool m_writeWanted = false;
    bool m_walkWanted = false;
    bool m_mergeWanted = false;
    bool m_working = false;
    std::vector<std::shared_ptr<QPromise<void>>> m_waiters;
    QString m_renameFirst; // where an unreadable index goes before the first write

    // The library's own thread only:
    QList<Found> m_found;
    QHash<QString, FileStamp> m_unplayable;

    std::atomic<bool> m_stopping = false;
    QThreadPool m_thread; // one thread: the walks, the index writes and the facts

    QList<Clip> m_clips; // main thread
};

} // namespace vantel
