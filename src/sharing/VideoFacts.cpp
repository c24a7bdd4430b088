#include "VideoFacts.h"

#include "library/InBackground.h"
#include "media/MediaProbe.h"

#include <QFile>

namespace vantel {

VideoFacts VideoFacts::read(const QString& path) {
    try {
        media::MediaInfo info = media::probeHeaders(QFile::encodeName(path).toStdString());
        VideoFacts facts;
        if (info.videoTracks > 0) {
            facts.width = info.width;
            facts.height = info.height;
        }
        facts.duration = info.duration > 0.0 ? info.duration : 0.0;
        return facts;
    } catch (const std::exception&) {
        return {};
    }
}

QCoro::Task<VideoFacts> VideoFacts::load(QString path) {
    auto reading = detail::inBackground([path] { return read(path); });
    co_return co_await std::move(reading);
}

} // namespace vantel
