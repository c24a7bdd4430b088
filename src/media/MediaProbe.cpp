#include "MediaProbe.h"

#include "MediaError.h"
#include "MediaInput.h"

#include <algorithm>
#include <cmath>
#include <string>

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

// The end of the furthest sample any track lists, or nothing when no track lists a sample.
std::optional<int64_t> indexedEnd(AVFormatContext* fmt) {
    std::optional<int64_t> end;
    for (unsigned i = 0; i < fmt->nb_streams; ++i) {
        AVStream* st = fmt->streams[i];
        const int count = avformat_index_get_entries_count(st);
        for (int n = 0; n < count; ++n) {
            const AVIndexEntry* entry = avformat_index_get_entry(st, n);
            if (entry && entry->pos >= 0)
                end = std::max(end.value_or(0), entry->pos + int64_t(entry->size));
        }
    }
    return end;
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

MediaInfo probeIntact(const std::filesystem::path& file) {
    InputContextPtr fmt = openMediaInput(file);
    MediaInfo info = readInfo(fmt.get(), false);
    auto fail = [&file](const std::string& why) {
        return MediaError(MediaError::Kind::openInput, file.string() + ": " + why);
    };
    if (info.videoTracks == 0 && info.audioTracks == 0)
        throw fail("no video or sound track");
    if (!(info.duration > 0.0))
        throw fail("no length");
    const std::optional<int64_t> end = indexedEnd(fmt.get());
    const int64_t size = fmt->pb ? avio_size(fmt->pb) : -1;
    if (!end)
        throw fail("no samples");
    if (size >= 0 && *end > size)
        throw fail("samples up to byte " + std::to_string(*end) + " in a file of " +
                   std::to_string(size));
    return info;
}

} // namespace vantel::media
