#include "AudioMixer.h"

#include "MediaError.h"
#include "MediaInput.h"
#include "RangeReader.h"

extern "C" {
#include <libavutil/opt.h>
}

#include <algorithm>
#include <cmath>
#include <limits>

namespace vantel::media {

namespace {

constexpr int outRate = 48000;
constexpr int64_t outBitrate = 256000;
// A jump in a track's time stamps beyond this many samples is a gap: it is filled with silence
// so the track stays in step with the others.
constexpr int64_t gapSamples = outRate / 10;

[[noreturn]] void failEncoder(const std::string& what) {
    throw MediaError(MediaError::Kind::openOutput, what);
}

void erasePrefix(std::vector<float>& v, int64_t n) {
    v.erase(v.begin(), v.begin() + std::min<int64_t>(n, int64_t(v.size())));
}

bool sameInput(int rate, int format, int channels, uint64_t mask, const AVFrame* frame) {
    return frame->sample_rate == rate && frame->format == format &&
           frame->ch_layout.nb_channels == channels &&
           av_channel_layout_subset(&frame->ch_layout, ~uint64_t(0)) == mask;
}

} // namespace

AudioMixer::AudioMixer(const std::filesystem::path& source, Mp4Output& out, TimeRange kept,
                       float gameVolume, float micVolume)
    : m_in(openMediaInput(source))
    , m_out(out)
    , m_kept(kept) {
    m_total = std::llround(kept.duration() * outRate);
    for (unsigned i = 0; i < m_in->nb_streams; ++i) {
        const AVStream* st = m_in->streams[i];
        if (st->codecpar->codec_type != AVMEDIA_TYPE_AUDIO)
            continue;
        Track t;
        t.stream = int(i);
        t.gain = m_tracks.empty() ? gameVolume : micVolume;
        t.dec = openDecoder(st);
        m_tracks.push_back(std::move(t));
    }
    openEncoder();
}

void AudioMixer::openEncoder() {
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (!codec)
        failEncoder("no AAC encoder");
    m_enc.reset(avcodec_alloc_context3(codec));
    m_enc->sample_fmt = AV_SAMPLE_FMT_FLTP;
    m_enc->sample_rate = outRate;
    av_channel_layout_default(&m_enc->ch_layout, 2);
    m_enc->bit_rate = outBitrate;
    m_enc->time_base = {1, outRate};
    m_enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (int err = avcodec_open2(m_enc.get(), codec, nullptr); err < 0)
        failEncoder("cannot open the AAC encoder: " + averror(err));
    m_ost = m_out.addStream();
    if (avcodec_parameters_from_context(m_ost->codecpar, m_enc.get()) < 0)
        failEncoder("cannot set up the audio stream");
    m_ost->time_base = m_enc->time_base;
    m_frame = makeFrame();
}

AudioMixer::Track* AudioMixer::trackOf(int stream) {
    for (Track& t : m_tracks)
        if (t.stream == stream)
            return &t;
    return nullptr;
}

void AudioMixer::run(const std::atomic<bool>& stop) {
    std::vector<int> streams;
    for (const Track& t : m_tracks)
        streams.push_back(t.stream);
    RangeReader reader(m_in.get(), streams, m_kept.start, m_kept.end);
    PacketPtr pkt = makePacket();
    while (!stop && reader.next(pkt.get())) {
        decode(*trackOf(pkt->stream_index), pkt.get());
        mixAndEncode(mixable());
    }
    if (stop)
        return;
    for (Track& t : m_tracks) {
        decode(t, nullptr);
        t.finished = true;
    }
    int64_t end = 0;
    for (const Track& t : m_tracks)
        end = std::max(end, t.bufferEnd());
    mixAndEncode(std::min(end, m_total));
    flushEncoder();
}

void AudioMixer::decode(Track& t, AVPacket* pkt) {
    if (int err = avcodec_send_packet(t.dec.get(), pkt); err < 0 && err != AVERROR_EOF)
        throw MediaError(MediaError::Kind::read, "cannot decode the audio: " + averror(err));
    FramePtr frame = makeFrame();
    for (;;) {
        const int err = avcodec_receive_frame(t.dec.get(), frame.get());
        if (err == AVERROR(EAGAIN) || err == AVERROR_EOF)
            break;
        if (err < 0)
            throw MediaError(MediaError::Kind::read, "cannot decode the audio: " + averror(err));
        resample(t, frame.get());
        av_frame_unref(frame.get());
    }
    if (!pkt && t.swr)
        resample(t, nullptr);
}

// Resamples to planar stereo at 48 kHz. A track's samples are placed one after the other from
// where its first frame falls, and only moved on at a real gap in its time stamps.
void AudioMixer::resample(Track& t, const AVFrame* frame) {
    if (frame && t.swr && !sameInput(t.inRate, t.inFormat, t.inChannels, t.inMask, frame)) {
        // Keep what the old resampler still holds, then convert the new layout afresh.
        convert(t, nullptr, t.bufferEnd());
        t.swr.reset();
    }
    if (frame && !t.swr)
        openResampler(t, frame);
    if (!t.swr)
        return;
    int64_t position = t.bufferEnd();
    if (frame && frame->best_effort_timestamp != AV_NOPTS_VALUE) {
        const AVRational tb = m_in->streams[t.stream]->time_base;
        const int64_t stamped = std::llround(toSeconds(frame->best_effort_timestamp, tb) * outRate);
        if (!t.started || stamped - position > gapSamples)
            position = stamped;
    }
    convert(t, frame, position);
}

void AudioMixer::openResampler(Track& t, const AVFrame* frame) {
    SwrContext* raw = nullptr;
    AVChannelLayout stereo;
    av_channel_layout_default(&stereo, 2);
    if (swr_alloc_set_opts2(&raw, &stereo, AV_SAMPLE_FMT_FLTP, outRate,
                            const_cast<AVChannelLayout*>(&frame->ch_layout),
                            AVSampleFormat(frame->format), frame->sample_rate, 0, nullptr) < 0) {
        throw MediaError(MediaError::Kind::read, "cannot convert the audio");
    }
    SwrPtr swr(raw);
    // A mono microphone goes to both sides at full level, not 3 dB down.
    if (frame->ch_layout.nb_channels == 1)
        av_opt_set_double(raw, "center_mix_level", 1.0, 0);
    if (swr_init(raw) < 0)
        throw MediaError(MediaError::Kind::read, "cannot convert the audio");
    t.swr = std::move(swr);
    t.inRate = frame->sample_rate;
    t.inFormat = frame->format;
    t.inChannels = frame->ch_layout.nb_channels;
    t.inMask = av_channel_layout_subset(&frame->ch_layout, ~uint64_t(0));
}

// Converts `frame` (nothing: what the resampler still holds) and adds it at `position`.
void AudioMixer::convert(Track& t, const AVFrame* frame, int64_t position) {
    const int inCount = frame ? frame->nb_samples : 0;
    const int capacity = swr_get_out_samples(t.swr.get(), inCount);
    if (capacity <= 0)
        return;
    std::vector<float> l(capacity), r(capacity);
    float* planes[2] = {l.data(), r.data()};
    const int n =
        swr_convert(t.swr.get(), reinterpret_cast<uint8_t**>(planes), capacity,
                    frame ? const_cast<const uint8_t**>(frame->extended_data) : nullptr, inCount);
    if (n < 0)
        throw MediaError(MediaError::Kind::read, "cannot convert the audio");
    if (!t.started) {
        t.started = true;
        t.bufferStart = position;
    }
    append(t, position, planes, n);
}

void AudioMixer::append(Track& t, int64_t position, float* const* planes, int count) {
    if (position > t.bufferEnd()) {
        t.left.resize(t.left.size() + size_t(position - t.bufferEnd()), 0.0f);
        t.right.resize(t.left.size(), 0.0f);
    }
    t.left.insert(t.left.end(), planes[0], planes[0] + count);
    t.right.insert(t.right.end(), planes[1], planes[1] + count);
    // Samples before the range start (or already mixed) are never needed.
    if (t.bufferStart < m_emitted) {
        const int64_t drop = std::min<int64_t>(m_emitted - t.bufferStart, int64_t(t.left.size()));
        erasePrefix(t.left, drop);
        erasePrefix(t.right, drop);
        t.bufferStart += drop;
    }
}

// The output position up to which every track has delivered its samples.
int64_t AudioMixer::mixable() const {
    int64_t upTo = m_total;
    for (const Track& t : m_tracks)
        if (!t.finished)
            upTo = std::min(upTo, t.started ? t.bufferEnd() : m_emitted);
    return upTo;
}

void AudioMixer::mixAndEncode(int64_t upTo) {
    const int frameSize = m_enc->frame_size > 0 ? m_enc->frame_size : 1024;
    while (upTo - m_emitted >= frameSize)
        encodeFrame(frameSize);
    const bool last =
        std::all_of(m_tracks.begin(), m_tracks.end(), [](const Track& t) { return t.finished; });
    if (last && upTo > m_emitted)
        encodeFrame(int(upTo - m_emitted));
}

void AudioMixer::encodeFrame(int count) {
    m_frame->nb_samples = count;
    m_frame->format = AV_SAMPLE_FMT_FLTP;
    m_frame->sample_rate = outRate;
    av_channel_layout_copy(&m_frame->ch_layout, &m_enc->ch_layout);
    if (av_frame_get_buffer(m_frame.get(), 0) < 0)
        throw MediaError(MediaError::Kind::write, "out of memory");
    auto* outL = reinterpret_cast<float*>(m_frame->data[0]);
    auto* outR = reinterpret_cast<float*>(m_frame->data[1]);
    std::fill(outL, outL + count, 0.0f);
    std::fill(outR, outR + count, 0.0f);
    for (Track& t : m_tracks) {
        for (int i = 0; i < count; ++i) {
            const int64_t at = m_emitted + i - t.bufferStart;
            if (at < 0 || at >= int64_t(t.left.size()))
                continue;
            outL[i] += t.gain * t.left[size_t(at)];
            outR[i] += t.gain * t.right[size_t(at)];
        }
        const int64_t used =
            std::clamp<int64_t>(m_emitted + count - t.bufferStart, 0, int64_t(t.left.size()));
        erasePrefix(t.left, used);
        erasePrefix(t.right, used);
        t.bufferStart += used;
    }
    m_frame->pts = m_emitted;
    m_emitted += count;
    const int err = avcodec_send_frame(m_enc.get(), m_frame.get());
    av_frame_unref(m_frame.get());
    if (err < 0)
        throw MediaError(MediaError::Kind::write, "cannot encode the audio: " + averror(err));
    PacketPtr pkt = makePacket();
    while (avcodec_receive_packet(m_enc.get(), pkt.get()) == 0) {
        pkt->stream_index = m_ost->index;
        m_out.write(pkt.get(), m_enc->time_base);
    }
}

void AudioMixer::flushEncoder() {
    avcodec_send_frame(m_enc.get(), nullptr);
    PacketPtr pkt = makePacket();
    for (;;) {
        const int err = avcodec_receive_packet(m_enc.get(), pkt.get());
        if (err == AVERROR_EOF || err == AVERROR(EAGAIN))
            return;
        if (err < 0)
            throw MediaError(MediaError::Kind::write, "cannot encode the audio: " + averror(err));
        pkt->stream_index = m_ost->index;
        m_out.write(pkt.get(), m_enc->time_base);
    }
}

} // namespace vantel::media
