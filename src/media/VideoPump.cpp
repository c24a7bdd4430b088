#include "VideoPump.h"

#include "CodecIo.h"
#include "MediaError.h"
#include "MediaInput.h"
#include "RangeReader.h"

extern "C" {
#include <libavutil/opt.h>
}

#include <algorithm>
#include <cmath>

namespace vantel::media {

namespace {

constexpr double keyFrameInterval = 2.0; // seconds, at most, between key frames

[[noreturn]] void failEncoder(const std::string& what) {
    throw MediaError(MediaError::Kind::openOutput, what);
}

void copySideData(const AVStream* in, AVStream* out) {
    for (int i = 0; i < in->nb_side_data; ++i) {
        const AVPacketSideData& sd = in->side_data[i];
        if (sd.type != AV_PKT_DATA_DISPLAYMATRIX)
            continue;
        if (uint8_t* dst = av_stream_new_side_data(out, sd.type, sd.size))
            std::copy(sd.data, sd.data + sd.size, dst);
    }
}

} // namespace

VideoPump::VideoPump(const std::filesystem::path& source, Mp4Output& out, const ExportPlan& plan,
                     TimeRange kept, std::optional<double> frameRate,
                     std::function<void(double)> progress)
    : m_in(openMediaInput(source))
    , m_stream(firstVideoStream(m_in.get()))
    , m_out(out)
    , m_kept(kept)
    , m_progress(std::move(progress)) {
    if (m_stream < 0)
        throw MediaError(MediaError::Kind::noVideo, "the source has no video");
    const AVStream* in = m_in->streams[m_stream];
    m_inTb = in->time_base;
    m_endTs = fromSeconds(kept.duration(), m_inTb);
    m_ost = out.addStream();
    if (plan.reencode)
        openEncoder(in, plan, frameRate);
    else
        out.copyStreamSetup(in, m_ost);
}

void VideoPump::openEncoder(const AVStream* in, const ExportPlan& plan, std::optional<double> fps) {
    m_dec = openDecoder(in, 0);
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    if (!codec)
        failEncoder("no H.264 encoder");
    m_enc.reset(avcodec_alloc_context3(codec));
    const double rate = fps.value_or(60.0);
    m_enc->width = plan.width;
    m_enc->height = plan.height;
    m_enc->pix_fmt = AV_PIX_FMT_YUV420P;
    m_enc->time_base = m_inTb;
    m_enc->framerate = av_d2q(rate, 100000);
    m_enc->bit_rate = plan.bitrate;
    m_enc->gop_size = std::max(1, int(keyFrameInterval * rate));
    m_enc->sample_aspect_ratio = m_dec->sample_aspect_ratio;
    m_enc->color_range = m_dec->color_range;
    m_enc->colorspace = m_dec->colorspace;
    m_enc->color_primaries = m_dec->color_primaries;
    m_enc->color_trc = m_dec->color_trc;
    m_enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    av_opt_set(m_enc->priv_data, "profile", "high", 0);
    av_opt_set(m_enc->priv_data, "preset", "veryfast", 0);
    if (int err = avcodec_open2(m_enc.get(), codec, nullptr); err < 0)
        failEncoder("cannot open the H.264 encoder: " + averror(err));
    if (avcodec_parameters_from_context(m_ost->codecpar, m_enc.get()) < 0)
        failEncoder("cannot set up the video stream");
    m_ost->time_base = m_inTb;
    copySideData(in, m_ost);
    m_frameTicks = std::max<int64_t>(1, fromSeconds(1.0 / rate, m_inTb));
}

void VideoPump::run(const std::atomic<bool>& stop) {
    RangeReader reader(m_in.get(), {m_stream}, m_kept.start, m_kept.end);
    PacketPtr pkt = makePacket();
    while (!stop && reader.next(pkt.get())) {
        if (m_enc)
            decodePacket(pkt.get());
        else
            copyPacket(pkt.get());
    }
    if (stop || !m_enc)
        return;
    decodePacket(nullptr);
    if (m_held)
        encode(m_held.get(), 0);
    m_held.reset();
    sendToEncoder(nullptr);
}

void VideoPump::report(int64_t pts, AVRational tb) {
    if (m_progress)
        m_progress(std::min(1.0, toSeconds(pts, tb) / std::max(0.001, m_kept.duration())));
}

void VideoPump::copyPacket(AVPacket* pkt) {
    const int64_t pts = pkt->pts;
    pkt->stream_index = m_ost->index;
    m_out.write(pkt, m_inTb);
    report(pts, m_inTb);
}

void VideoPump::decodePacket(const AVPacket* pkt) {
    decodeAndDrain(
        m_dec.get(), pkt, [&](AVFrame* frame) { takeFrame(frame); }, "cannot decode the video");
}

// Frames arrive with times relative to the range start. The last one before the start is held
// back and shown at zero unless a frame falls exactly on the start.
void VideoPump::takeFrame(const AVFrame* frame) {
    const int64_t pts = frame->best_effort_timestamp;
    if (pts == AV_NOPTS_VALUE || pts >= m_endTs)
        return;
    if (pts < 0) {
        m_held = makeFrame();
        av_frame_ref(m_held.get(), frame);
        return;
    }
    if (m_held && pts > 0)
        encode(m_held.get(), 0);
    m_held.reset();
    encode(frame, pts);
}

void VideoPump::encode(const AVFrame* frame, int64_t pts) {
    m_sws.reset(sws_getCachedContext(m_sws.release(), frame->width, frame->height,
                                     AVPixelFormat(frame->format), m_enc->width, m_enc->height,
                                     AV_PIX_FMT_YUV420P, SWS_BICUBIC, nullptr, nullptr, nullptr));
    if (!m_scaled) {
        m_scaled = makeFrame();
        m_scaled->format = AV_PIX_FMT_YUV420P;
        m_scaled->width = m_enc->width;
        m_scaled->height = m_enc->height;
        if (av_frame_get_buffer(m_scaled.get(), 0) < 0)
            throw MediaError(MediaError::Kind::write, "out of memory");
    }
    if (!m_sws || av_frame_make_writable(m_scaled.get()) < 0)
        throw MediaError(MediaError::Kind::write, "cannot scale the video");
    sws_scale(m_sws.get(), frame->data, frame->linesize, 0, frame->height, m_scaled->data,
              m_scaled->linesize);
    m_scaled->pts = pts;
    const double t = toSeconds(pts, m_inTb);
    m_scaled->pict_type = AV_PICTURE_TYPE_NONE;
    if (t - m_lastKey >= keyFrameInterval - 1e-6) {
        m_scaled->pict_type = AV_PICTURE_TYPE_I;
        m_lastKey = t;
    }
    sendToEncoder(m_scaled.get());
    report(pts, m_inTb);
}

// Sends `frame` (nullptr: the end) and writes every packet the encoder has ready.
void VideoPump::sendToEncoder(const AVFrame* frame) {
    auto write = [&](PacketPtr pkt) {
        // libx264 leaves durations at zero; the muxer would guess the last one.
        if (pkt->duration <= 0)
            pkt->duration = m_frameTicks;
        if (pkt->pts != AV_NOPTS_VALUE && pkt->pts < m_endTs)
            pkt->duration = std::min(pkt->duration, m_endTs - pkt->pts);
        pkt->stream_index = m_ost->index;
        m_out.write(pkt.get(), m_enc->time_base);
    };
    encodeAndDrain(m_enc.get(), frame, write, "cannot encode the video");
}

} // namespace vantel::media
