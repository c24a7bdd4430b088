#pragma once

// The card pictures of the clip grid. A picture is asked for only when a card is painted, so a
// library of thousands of clips costs nothing until its cards scroll into view.
//
// Loading goes through the library's thumbnail operation (cached JPEG, else a frame grabbed
// from the file) on the thread pool, at most two at a time and never on every core, so that
// neither the window's own thread nor a save or export running meanwhile is starved. The newest
// request goes first and old requests beyond a short queue are dropped: after a fast scroll the
// cards now on screen load first, and those scrolled past are asked for again when they come back.
// Pictures are scaled down off the main thread and kept in a bounded cache.
//
// Thread: main thread. ready() is emitted on the main thread.

#include "library/Clip.h"

#include <QCache>
#include <QCoro/QCoroTask>
#include <QImage>
#include <QList>
#include <QObject>
#include <QSet>
#include <functional>
#include <optional>

namespace vantel {

class ThumbnailCache : public QObject {
    Q_OBJECT
public:
    using Loader = std::function<QCoro::Task<std::optional<QImage>>(Clip)>;

    // `load` makes the full-size thumbnail; `maxWidth` is the widest a card shows it, in
    // device pixels.
    ThumbnailCache(Loader load, int maxWidth, QObject* parent = nullptr);
    ~ThumbnailCache() override;

    // The picture when it is loaded; a null image otherwise, and a load is queued.
    QImage picture(const Clip& clip);
    // Drops what is known about `url` (the file was deleted or replaced).
    void forget(const QString& url);

    // How many loads may run at once (at least 1).
    void setParallel(int loads) { m_parallel = std::max(1, loads); }
    int loading() const { return m_running; }
    int queued() const { return int(m_queue.size()); }

signals:
    void ready(const QString& url);

private:
    void startNext();
    QCoro::Task<> load(Clip clip);

    Loader m_load;
    int m_maxWidth;
    int m_parallel;
    QCache<QString, QImage> m_pictures; // cost: kilobytes
    QList<Clip> m_queue;                // newest last
    QSet<QString> m_pending;            // queued or loading
    QSet<QString> m_failed;
    int m_running = 0;
    std::shared_ptr<bool> m_alive;
};

} // namespace vantel
