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
// Clip key: the full path with every occurrence of "<folder>/" removed, computed with the folder
// of the moment, so entries of an earlier folder stop matching after a folder change.
//
// Threads: add(), update(), deleteClip() and reload() may be called from any thread; m_mutex
// serialises them and guards m_index, m_indexBad and m_lastScan. The walk and the index write
// run on the calling thread. The list is handed to the main thread with a queued call and
// published there (clips() and clipsChanged), replacements in the order they were posted.
// clips() is main thread only. The object itself lives on the main thread.
//
// Errors are swallowed: a missing folder lists nothing, a failed index write keeps the memory
// copy for the next write, a failed Trash move still forgets the clip. An index file that
// cannot be read or decoded is ignored at start and renamed to "library.json.bad" (replacing an
// older one) just before the first write, so the user's metadata is never silently lost.

#include "Clip.h"

#include <QCoro/QCoroTask>
#include <QFileInfo>
#include <QImage>
#include <QList>
#include <QObject>
#include <functional>
#include <mutex>
#include <optional>

namespace vantel {

class Library : public QObject {
    Q_OBJECT
public:
    struct Places {
        std::function<QString()> folder; // the clip folder, asked at every operation
        QString appSupport;              // holds "library.json" and "thumbs"
    };

    // The program's library: the settings' clip folder and support folder.
    static Library& shared();

    // Loads the index, creates the thumbnail folder and runs reload().
    explicit Library(Places places, QObject* parent = nullptr);

    // Main thread: the list as last published, newest first.
    QList<Clip> clips() const { return m_clips; }

    QString folder() const;
    QString indexPath() const { return m_indexPath; }
    QString thumbs() const { return m_thumbs; }
    QString key(const QString& url) const;
    QString thumbURL(const QString& url) const;

    // Rescans the folder; the new list is published later on the main thread.
    void reload();
    // Stores `meta` under the key of `url`, writes the index, reloads.
    void add(const QString& url, const ClipMeta& meta);
    // Changes the indexed metadata of `url`, or its listed default metadata; nothing when the
    // clip is neither indexed nor listed.
    void update(const QString& url, const std::function<void(ClipMeta&)>& change);
    // Moves the file to the Trash, forgets its entry and thumbnail, writes the index, reloads.
    void deleteClip(const Clip& clip);

    // The cached thumbnail, else one made from the frame at 0.5 s (and cached); nothing when no
    // frame can be made. Runs off the main thread; resumes on the caller's thread.
    QCoro::Task<std::optional<QImage>> thumbnail(Clip clip);
    // The same, done on the calling thread (any thread; it blocks while a frame is decoded).
    std::optional<QImage> loadThumbnail(const Clip& clip) const;

signals:
    void clipsChanged(const QList<vantel::Clip>& clips);

private:
    void load();
    void reloadLocked();
    void writeIndexLocked();
    QList<Clip> scan(const QString& folder) const;
    ClipMeta defaultMeta(const QString& folder, const QFileInfo& info) const;
    void publish(const QList<Clip>& list);

    Places m_places;
    QString m_indexPath;
    QString m_thumbs;

    std::mutex m_mutex;
    QHash<QString, ClipMeta> m_index;
    bool m_indexBad = false;
    QList<Clip> m_lastScan;

    QList<Clip> m_clips; // main thread
};

} // namespace vantel
