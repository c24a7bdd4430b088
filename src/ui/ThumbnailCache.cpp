#include "ui/ThumbnailCache.h"

#include "library/Background.h"

#include <QThread>

namespace vantel {

namespace {

// Two at a time, but never on every core: the window's own thread must keep one to paint on.
int defaultParallel() {
    return std::clamp(QThread::idealThreadCount() - 1, 1, 2);
}
constexpr qsizetype kQueueLength = 48;
constexpr int kCacheKilobytes = 96 * 1024;

int kilobytes(const QImage& image) {
    return std::max<int>(1, int(image.sizeInBytes() / 1024));
}

} // namespace

ThumbnailCache::ThumbnailCache(Loader load, int maxWidth, QObject* parent)
    : QObject(parent)
    , m_load(std::move(load))
    , m_maxWidth(maxWidth)
    , m_parallel(defaultParallel())
    , m_pictures(kCacheKilobytes)
    , m_alive(std::make_shared<bool>(true)) {}

ThumbnailCache::~ThumbnailCache() {
    *m_alive = false;
}

QImage ThumbnailCache::picture(const Clip& clip) {
    if (QImage* cached = m_pictures.object(clip.url))
        return *cached;
    if (m_pending.contains(clip.url) || m_failed.contains(clip.url))
        return {};
    m_pending.insert(clip.url);
    m_queue.append(clip);
    if (m_queue.size() > kQueueLength)
        m_pending.remove(m_queue.takeFirst().url);
    startNext();
    return {};
}

void ThumbnailCache::forget(const QString& url) {
    m_pictures.remove(url);
    m_failed.remove(url);
}

void ThumbnailCache::startNext() {
    while (m_running < m_parallel && !m_queue.isEmpty()) {
        ++m_running;
        load(m_queue.takeLast());
    }
}

QCoro::Task<> ThumbnailCache::load(Clip clip) {
    // The cache may go while a load runs (the window closed): the flag says whether to touch it.
    auto alive = m_alive;
    std::optional<QImage> image;
    try {
        image = co_await m_load(clip);
        if (image && !image->isNull() && image->width() > m_maxWidth) {
            const int width = m_maxWidth;
            auto scaled = detail::inBackground([source = *image, width] {
                return source.scaledToWidth(width, Qt::SmoothTransformation);
            });
            image = co_await std::move(scaled);
        }
    } catch (...) {
        image.reset();
    }
    if (!*alive)
        co_return;
    --m_running;
    m_pending.remove(clip.url);
    if (image && !image->isNull()) {
        m_pictures.insert(clip.url, new QImage(*image), kilobytes(*image));
        emit ready(clip.url);
    } else {
        m_failed.insert(clip.url);
    }
    startNext();
}

} // namespace vantel
