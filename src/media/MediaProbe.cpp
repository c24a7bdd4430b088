#include "MediaProbe.h"

#include "MediaError.h"
#include "MediaInput.h"

#include <cmath>

namespace vantel::media {

namespace {

std::optional<double> frameRateOf(const AVStream* st) {
    for (AVRational r : {st->avg_frame_rate, st->r_frame_rate}) {
        if (r.num > 0 && r.den > 0)
            return av_q2d(r);
    }
    return std::nullopt;
}

// The file's length: the mp4 demuxer reports the end of the timeline, which for a joined
// snapshot does not begin at zero.
double durationOf(const AVFormatContext* fmt) {
    if (fmt->duration == AV_NOPTS_VALUE || fmt->duration <= 0)
        return 0.0;
    double start = 0.0;
    if (fmt->start_time != AV_NOPTS_VALUE && fmt->start_time > 0)
        start = double(fmt->start_time) / AV_TIME_BASE;
    return std::max(0.0, double(fmt->duration) / AV_TIME_BASE - start);
}

void countTracks(const AVFormatContext* fmt, MediaInfo& info) {
    for (unsigned i = 0; i < fmt->nb_streams; ++i) {
        const AVStream* st = fmt->streams[i];
        if (st->codecpar->codec_type == AVMEDIA_TYPE_AUDIO)
            ++info.audioTracks;
        else if (st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
                 !(st->disposition & AV_DISPOSITION_ATTACHED_PIC))
            ++info.videoTracks;
    }
}

MediaInfo readInfo(AVFormatContext* fmt, bool scanVideo) {
    MediaInfo info;
    countTracks(fmt, info);
    info.duration = durationOf(fmt);
    const int v = firstVideoStream(fmt);
    if (v < 0)
        return info;
    const AVStream* st = fmt->streams[v];
    info.width = st->codecpar->width;
    info.height = st->codecpar->height;
    info.videoCodec = avcodec_get_name(st->codecpar->codec_id);
    info.frameRate = frameRateOf(st);
    info.rotation = displayRotation(st);
    if (!scanVideo)
        return info;
    if (auto range = scanPresentedRange(fmt, v)) {
        info.videoStart = range->start;
        info.videoEnd = range->end;
    }
    return info;
}

} // namespace

MediaInfo probeMedia(const std::filesystem::path& file) {
    InputContextPtr fmt = openMediaInput(file);
    return readInfo(fmt.get(), true);
}

MediaInfo probeHeaders(const std::filesystem::path& file) {
    InputContextPtr fmt = openMediaInput(file);
    return readInfo(fmt.get(), false);
}

} // namespace vantel::media
