// The thumbnail cache of Library, apart from the index so that the index does not pull in the
// frame grabber.

#include "InBackground.h"
#include "Library.h"
#include "media/FrameGrabber.h"

#include <QSaveFile>

namespace vantel {

namespace {

std::optional<QImage> loadOrMakeThumbnail(const QString& clipPath, const QString& thumbPath) {
    QImage cached;
    if (cached.load(thumbPath))
        return cached;
    auto bytes = media::jpegFrame(clipPath.toStdString(), 640, 0.5);
    if (!bytes)
        return std::nullopt;
    QByteArray jpeg(reinterpret_cast<const char*>(bytes->data()),
                    static_cast<qsizetype>(bytes->size()));
    QImage picture;
    if (!picture.loadFromData(jpeg, "JPEG"))
        return std::nullopt;
    // Written whole or not at all: a cut-off JPEG still loads and would be shown for good.
    QSaveFile file(thumbPath);
    if (file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) && file.write(jpeg) == jpeg.size())
        file.commit();
    return picture;
}

} // namespace

QCoro::Task<std::optional<QImage>> Library::thumbnail(Clip clip) {
    const QString thumb = thumbURL(clip.url);
    auto work =
        detail::inBackground([path = clip.url, thumb] { return loadOrMakeThumbnail(path, thumb); });
    co_return co_await std::move(work);
}

std::optional<QImage> Library::loadThumbnail(const Clip& clip) const {
    return loadOrMakeThumbnail(clip.url, thumbURL(clip.url));
}

} // namespace vantel
