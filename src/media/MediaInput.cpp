#include "MediaInput.h"

#include "FfmpegLog.h"
#include "MediaError.h"

extern "C" {
#include <libavutil/display.h>
}

#include <algorithm>
#include <cmath>
#include <vector>

namespace vantel::media {

InputContextPtr openMediaInput(const std::filesystem::path& file) {
    installFfmpegLog();
    AVFormatContext* raw = nullptr;
    // "file:" keeps names with a colon from being read as a protocol.
    const std::string url = "file:" + file.string();
    if (int err = avformat_open_input(&raw, url.c_str(), nullptr, nullptr); err < 0)
        throw MediaError(MediaError::Kind::openInput,
                         "cannot open " + file.string() + ": " + averror(err));
    InputContextPtr fmt(raw);
    if (int err = avformat_find_stream_info(fmt.get(), nullptr); err < 0)
        throw MediaError(MediaError::Kind::openInput,
                         "cannot read the streams of " + file.string() + ": " + averror(err));
    return fmt;
}

int firstVideoStream(const AVFormatContext* fmt) {
    for (unsigned i = 0; i < fmt->nb_streams; ++i) {
        const AVStream* st = fmt->streams[i];
        if (st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
            !(st->disposition & AV_DISPOSITION_ATTACHED_PIC))
            return int(i);
    }
    return -1;
}

int displayRotation(const AVStream* st) {
    const uint8_t* matrix = av_stream_get_side_data(st, AV_PKT_DATA_DISPLAYMATRIX, nullptr);
    if (!matrix)
        return 0;
    const double ccw = av_display_rotation_get(reinterpret_cast<const int32_t*>(matrix));
    if (std::isnan(ccw))
        return 0;
    const int quarter = int(std::lround(-ccw / 90.0));
    return ((quarter % 4) + 4) % 4 * 90;
}

CodecContextPtr openDecoder(const AVStream* st, int threads) {
    const AVCodec* codec = avcodec_find_decoder(st->codecpar->codec_id);
    if (!codec)
        throw MediaError(MediaError::Kind::openInput,
                         std::string("no decoder for ") + avcodec_get_name(st->codecpar->codec_id));
    CodecContextPtr ctx(avcodec_alloc_context3(codec));
    if (!ctx)
        throw MediaError(MediaError::Kind::openInput, "cannot allocate a decoder");
    if (int err = avcodec_parameters_to_context(ctx.get(), st->codecpar); err < 0)
        throw MediaError(MediaError::Kind::openInput, "bad codec parameters: " + averror(err));
    ctx->pkt_timebase = st->time_base;
    ctx->thread_count = threads;
    if (int err = avcodec_open2(ctx.get(), codec, nullptr); err < 0)
        throw MediaError(MediaError::Kind::openInput, "cannot open the decoder: " + averror(err));
    return ctx;
}

double toSeconds(int64_t ts, AVRational tb) {
    return double(ts) * av_q2d(tb);
}

int64_t fromSeconds(double seconds, AVRational tb) {
    return int64_t(std::llround(seconds / av_q2d(tb)));
}

namespace {

// Widens `range` by one packet of the scanned stream; packets the edit list hides do not count.
// Returns whether the packet was a shown key frame of that stream.
bool widen(std::optional<PresentedRange>& range, const AVPacket& pkt, int stream, AVRational tb) {
    if (pkt.stream_index != stream || pkt.pts == AV_NOPTS_VALUE ||
        (pkt.flags & AV_PKT_FLAG_DISCARD))
        return false;
    const double s = toSeconds(pkt.pts, tb);
    const double e = toSeconds(pkt.pts + std::max<int64_t>(pkt.duration, 0), tb);
    if (!range)
        range = PresentedRange{s, e};
    range->start = std::min(range->start, s);
    range->end = std::max(range->end, e);
    return pkt.flags & AV_PKT_FLAG_KEY;
}

// Reads packets into `range` up to and including the `keys`-th key frame of the stream (0: to
// the end); false when the file ended first.
bool readUntilKey(AVFormatContext* fmt, int stream, int keys,
                  std::optional<PresentedRange>& range) {
    const AVRational tb = fmt->streams[stream]->time_base;
    PacketPtr pkt = makePacket();
    int seen = 0;
    while (av_read_frame(fmt, pkt.get()) >= 0) {
        const bool key = widen(range, *pkt, stream, tb);
        av_packet_unref(pkt.get());
        if (key && ++seen == keys)
            return true;
    }
    return false;
}

} // namespace

// Every frame shows within its own group of pictures, so the first group gives the start and the
// last group gives the end: the packets in between are skipped by seeking, which keeps probing a
// long clip as cheap as probing a short one.
std::optional<PresentedRange> scanPresentedRange(AVFormatContext* fmt, int stream) {
    std::vector<AVDiscard> saved(fmt->nb_streams);
    for (unsigned i = 0; i < fmt->nb_streams; ++i) {
        saved[i] = fmt->streams[i]->discard;
        if (int(i) != stream)
            fmt->streams[i]->discard = AVDISCARD_ALL;
    }
    std::optional<PresentedRange> range;
    // Far past any real end, yet clear of overflow when the demuxer shifts it by its offsets.
    constexpr int64_t kPastTheEnd = INT64_MAX / 4;
    // Where seeking fails, reading simply goes on to the end.
    if (readUntilKey(fmt, stream, 2, range))
        av_seek_frame(fmt, stream, kPastTheEnd, AVSEEK_FLAG_BACKWARD);
    readUntilKey(fmt, stream, 0, range);
    for (unsigned i = 0; i < fmt->nb_streams; ++i)
        fmt->streams[i]->discard = saved[i];
    return range;
}

} // namespace vantel::media
