#include "ui/ThumbnailCache.h"

#include "library/InBackground.h"

#include <QPainter>
#include <QThread>
#include <QThreadPool>
#include <sys/resource.h>
#include <unistd.h>

namespace vantel {

namespace {

// Two at a time, but never on every core: the window's own thread must keep one to paint on.
int defaultParallel() {
    return std::clamp(QThread::idealThreadCount() - 1, 1, 2);
}
constexpr qsizetype kQueueLength = 48;
constexpr int kCacheKilobytes = 64 * 1024;
// How much nicer than the rest of the program the picture threads run.
constexpr int kNicer = 8;

int kilobytes(const QImage& image) {
    return std::max<int>(1, int(image.sizeInBytes() / 1024));
}

// Linux keeps a nice value per thread: lowering this one leaves the window's thread alone.
void lowerThisThread() {
    thread_local bool lowered = false;
    if (lowered)
        return;
    lowered = true;
    const int now = getpriority(PRIO_PROCESS, 0);
    setpriority(PRIO_PROCESS, id_t(gettid()), std::min(19, now + kNicer));
}

QSize deviceSize(const ThumbnailCache::Shape& shape) {
    return (QSizeF(shape.size) * shape.ratio).toSize();
}

} // namespace

QImage cardPicture(const QImage& source, const ThumbnailCache::Shape& shape) {
    const QSize size = deviceSize(shape);
    if (source.isNull() || size.isEmpty())
        return {};
    const QImage covering =
        source.scaled(size, Qt::KeepAspectRatioByExpanding, Qt::SmoothTransformation);
    const QImage middle = covering.copy(QRect(
        QPoint((covering.width() - size.width()) / 2, (covering.height() - size.height()) / 2),
        size));
    QImage picture(size, QImage::Format_ARGB32_Premultiplied);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QBrush(middle));
    const qreal radius = shape.radius * shape.ratio;
    painter.drawRoundedRect(QRectF(QPointF(), QSizeF(size)), radius, radius);
    painter.end();
    picture.setDevicePixelRatio(shape.ratio);
    return picture;
}

QThreadPool& ThumbnailCache::pool() {
    static QThreadPool* threads = [] {
        auto* made = new QThreadPool;
        made->setMaxThreadCount(2);
        made->setExpiryTimeout(10'000);
        return made;
    }();
    return *threads;
}

ThumbnailCache::ThumbnailCache(Loader load, QObject* parent)
    : QObject(parent)
    , m_load(std::move(load))
    , m_parallel(defaultParallel())
    , m_pictures(kCacheKilobytes)
    , m_alive(std::make_shared<bool>(true)) {
    m_holding.setSingleShot(true);
    connect(&m_holding, &QTimer::timeout, this, &ThumbnailCache::startNext);
}

ThumbnailCache::~ThumbnailCache() {
    *m_alive = false;
}

void ThumbnailCache::setShape(const Shape& shape) {
    m_shape = shape;
}

QImage ThumbnailCache::picture(const Clip& clip) {
    QImage* cached = m_pictures.object(clip.url);
    if (cached && cached->size() == deviceSize(m_shape))
        return *cached;
    if (!m_failed.contains(clip.url))
        request(clip);
    return cached ? *cached : QImage();
}

void ThumbnailCache::request(const Clip& clip) {
    if (m_pending.contains(clip.url))
        return;
    m_pending.insert(clip.url);
    m_queue.append(clip);
    if (m_queue.size() > kQueueLength)
        m_pending.remove(m_queue.takeFirst().url);
    startNext();
}

void ThumbnailCache::forget(const QString& url) {
    m_pictures.remove(url);
    m_failed.remove(url);
}

void ThumbnailCache::hold(int ms) {
    m_holding.start(std::max(ms, m_holding.remainingTime()));
}

void ThumbnailCache::startNext() {
    while (!m_holding.isActive() && m_running < m_parallel && !m_queue.isEmpty()) {
        ++m_running;
        load(m_queue.takeLast());
    }
}

QCoro::Task<> ThumbnailCache::load(Clip clip) {
    // The cache may go while a load runs (the window closed): the flag says whether to touch it.
    auto alive = m_alive;
    QImage picture;
    try {
        auto made = detail::inBackground(
            [load = m_load, clip, shape = m_shape] {
                lowerThisThread();
                const std::optional<QImage> source = load(clip);
                return source ? cardPicture(*source, shape) : QImage();
            },
            &pool());
        picture = co_await std::move(made);
    } catch (...) {
        picture = QImage();
    }
    if (!*alive)
        co_return;
    --m_running;
    m_pending.remove(clip.url);
    if (!picture.isNull()) {
        m_pictures.insert(clip.url, new QImage(picture), kilobytes(picture));
        emit ready(clip.url);
    } else {
        m_failed.insert(clip.url);
    }
    startNext();
}

} // namespace vantel
