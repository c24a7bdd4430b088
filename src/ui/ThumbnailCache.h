#pragma once

// The card pictures of the clip grid. A picture is asked for only when a card is painted, so a
// library of thousands of clips costs nothing until its cards scroll into view.
//
// Each picture is made whole off the main thread: the library's thumbnail (cached JPEG, else a
// frame grabbed from the file) scaled and cropped to the card's picture area, its corners
// rounded, in the premultiplied format the window paints fastest. Painting a card is then one
// unscaled copy. The work runs on a pool of its own, at most two pictures at a time and never on
// every core, at a lower CPU priority than the window's thread, so that neither the window nor a
// save or export running meanwhile waits for it. The newest request goes first and old requests
// beyond a short queue are dropped: after a fast scroll the cards now on screen load first, and
// those scrolled past are asked for again when they come back.
//
// While the grid scrolls by, no new picture is started: making them would take the CPU from the
// window just when it paints the most, and most would be scrolled past before they show.
//
// When the card size changes, pictures of the old size are still handed out (the card draws
// them scaled) while new ones are made.
//
// Thread: main thread, except the loader (see Loader). ready() is emitted on the main thread.

#include "library/Clip.h"

#include <QCache>
#include <QCoro/QCoroTask>
#include <QImage>
#include <QList>
#include <QObject>
#include <QSet>
#include <QSize>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>

class QThreadPool;

namespace vantel {

class ThumbnailCache : public QObject {
    Q_OBJECT
public:
    // Makes the full-size thumbnail of a clip; nothing when it cannot. Called on a worker
    // thread and may block; it must stay usable until pool() has finished its work.
    using Loader = std::function<std::optional<QImage>(const Clip&)>;

    struct Shape {
        QSize size{264, 148}; // the picture area, in device-independent pixels
        qreal radius = 9;     // of its corners
        qreal ratio = 1;      // device pixels per device-independent pixel
        bool operator==(const Shape&) const = default;
    };

    explicit ThumbnailCache(Loader load, QObject* parent = nullptr);
    ~ThumbnailCache() override;

    // The pictures to make from now on.
    void setShape(const Shape& shape);
    Shape shape() const { return m_shape; }

    // The finished picture (its devicePixelRatio set), possibly of an earlier shape while one of
    // the current shape is made; a null image while there is none, and a load is queued.
    QImage picture(const Clip& clip);
    // Drops what is known about `url` (the file was deleted or replaced).
    void forget(const QString& url);

    // Starts no new load for `ms` milliseconds (the grid is scrolling by): requests still queue,
    // and when the time is up the cards then on screen load first. Loads under way go on.
    void hold(int ms);

    // How many loads may run at once (at least 1).
    void setParallel(int loads) { m_parallel = std::max(1, loads); }
    int loading() const { return m_running; }
    int queued() const { return int(m_queue.size()); }

    // The threads the pictures are made on, shared by every cache of the process. Whoever
    // destroys what a loader uses waits for it first.
    static QThreadPool& pool();

signals:
    void ready(const QString& url);

private:
    void request(const Clip& clip);
    void startNext();
    QCoro::Task<> load(Clip clip);

    Loader m_load;
    Shape m_shape;
    int m_parallel;
    QCache<QString, QImage> m_pictures; // cost: kilobytes
    QList<Clip> m_queue;                // newest last
    QSet<QString> m_pending;            // queued or loading
    QSet<QString> m_failed;
    int m_running = 0;
    QTimer m_holding;
    std::shared_ptr<bool> m_alive;
};

// `source` scaled to cover `shape` (cropped in the middle), corners rounded; premultiplied ARGB
// with the shape's device pixel ratio. Any thread.
QImage cardPicture(const QImage& source, const ThumbnailCache::Shape& shape);

} // namespace vantel
