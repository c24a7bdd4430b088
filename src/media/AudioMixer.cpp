#include "AudioMixer.h"

#include "CodecIo.h"
#include "MediaError.h"
#include "MediaInput.h"
#include "RangeReader.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace vantel::media {

namespace {

constexpr int kRate = 48000;
constexpr AVRational kTimeBase{1, kRate};
constexpr int64_t kBitRate = 256000;
// How far (in samples) a track may fall behind the newest packet read before it is fed silence.
// Muxers interleave tracks within a second or two; beyond this the track has ended or paused.
constexpr int64_t kLagLimit = 5 * kRate;
constexpr int kSilenceBlock = kRate / 10;

const char* const kStereoFloat =
    "aformat=sample_fmts=fltp:channel_layouts=stereo:sample_rates=48000";

// The gain as an expression of integers: FFmpeg reads decimals with the C library, which follows
// the program's locale and would take "0.5" for garbage under a decimal comma.
std::string gainExpression(float gain) {
    const double clamped = std::isfinite(gain) ? std::clamp(double(gain), -1e6, 1e6) : 0.0;
    char digits[32] = {};
    std::to_chars(digits, digits + sizeof digits - 1, std::llround(clamped * 1e6));
    return std::string(digits) + "/1000000";
}

std::string mixDescription(const std::vector<float>& gains) {
    std::string graph;
    std::string mixed;
    for (size_t i = 0; i < gains.size(); ++i) {
        const std::string n = std::to_string(i);
        graph += "[in" + n +
                 "]aresample=async=1:first_pts=0,volume=volume=" + gainExpression(gains[i]) +
                 ":precision=float[m" + n + "];";
        mixed += "[m" + n + "]";
    }
    return graph + mixed + "amix=inputs=" + std::to_string(gains.size()) +
           ":duration=longest:normalize=0," + kStereoFloat + "[out]";
}

bool sameInput(const AudioFilterGraph::Input& in, const AVFrame* frame) {
    return in.sampleRate == frame->sample_rate && in.format == frame->format &&
           av_channel_layout_compare(&in.layout, &frame->ch_layout) == 0;
}

} // namespace

AudioMixer::AudioMixer(const std::filesystem::path& source, Mp4Output& out, TimeRange kept,
                       float gameVolume, float micVolume)
    : m_in(openMediaInput(source))
    , m_out(out)
    , m_kept(kept)
    , m_converted(makeFrame())
    , m_mixed(makeFrame()) {
    m_total = std::llround(kept.duration() * kRate);
    for (unsigned i = 0; i < m_in->nb_streams; ++i) {
        const AVStream* st = m_in->streams[i];
        if (st->codecpar->codec_type != AVMEDIA_TYPE_AUDIO)
            continue;
        Track t;
        t.stream = int(i);
        t.input = int(m_tracks.size());
        t.gain = m_tracks.empty() ? gameVolume : micVolume;
        t.dec = openDecoder(st);
        m_tracks.push_back(std::move(t));
    }
    openEncoder();
    buildMix();
}

AudioMixer::~AudioMixer() = default;

void AudioMixer::openEncoder() {
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (!codec)
        throw MediaError(MediaError::Kind::openOutput, "no AAC encoder");
    m_enc.reset(avcodec_alloc_context3(codec));
    m_enc->sample_fmt = AV_SAMPLE_FMT_FLTP;
    m_enc->sample_rate = kRate;
    av_channel_layout_default(&m_enc->ch_layout, 2);
    m_enc->bit_rate = kBitRate;
    m_enc->time_base = kTimeBase;
    m_enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (int err = avcodec_open2(m_enc.get(), codec, nullptr); err < 0)
        throw MediaError(MediaError::Kind::openOutput,
                         "cannot open the AAC encoder: " + averror(err));
    m_ost = m_out.addStream();
    if (avcodec_parameters_from_context(m_ost->codecpar, m_enc.get()) < 0)
        throw MediaError(MediaError::Kind::openOutput, "cannot set up the audio stream");
    m_ost->time_base = m_enc->time_base;
}

void AudioMixer::buildMix() {
    if (m_tracks.empty())
        return;
    std::vector<float> gains;
    for (const Track& t : m_tracks)
        gains.push_back(t.gain);
    const std::vector<AudioFilterGraph::Input> inputs(m_tracks.size(), stereoInput48k());
    try {
        m_mix.emplace(inputs, mixDescription(gains), m_enc->frame_size);
    } catch (const MediaError& error) {
        throw MediaError(MediaError::Kind::openOutput, error.what());
    }
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
        const AVRational tb = m_in->streams[pkt->stream_index]->time_base;
        const int64_t readUntil = av_rescale_q(pkt->pts, tb, kTimeBase);
        decode(*trackOf(pkt->stream_index), pkt.get());
        for (Track& t : m_tracks)
            padTo(t, readUntil - kLagLimit, kSilenceBlock);
        encodeMixed();
    }
    if (stop)
        return;
    finishMix();
    encode(nullptr);
}

// Every track is brought to the same end before any is closed: amix drops what it still holds of
// its first input once that input ends, and mixes only as far as every open input reaches.
void AudioMixer::finishMix() {
    int64_t end = 0;
    for (Track& t : m_tracks) {
        decode(t, nullptr);
        endConverter(t);
        end = std::max(end, t.mixedUntil);
    }
    for (Track& t : m_tracks)
        padTo(t, end, 1);
    encodeMixed();
    for (auto t = m_tracks.rbegin(); t != m_tracks.rend(); ++t)
        m_mix->push(t->input, nullptr);
    encodeMixed();
}

void AudioMixer::decode(Track& t, const AVPacket* pkt) {
    decodeAndDrain(
        t.dec.get(), pkt, [&](AVFrame* frame) { convert(t, frame); }, "cannot decode the audio");
}

void AudioMixer::convert(Track& t, AVFrame* frame) {
    frame->pts = frame->best_effort_timestamp;
    if (frame->ch_layout.order != AV_CHANNEL_ORDER_NATIVE) {
        const int channels = frame->ch_layout.nb_channels;
        av_channel_layout_uninit(&frame->ch_layout);
        av_channel_layout_default(&frame->ch_layout, channels);
    }
    if (t.convert && !sameInput(t.convertIn, frame)) {
        // What the old conversion still holds comes first, then the new layout afresh.
        endConverter(t);
        t.convert.reset();
    }
    if (!t.convert)
        openConverter(t, frame);
    t.convert->push(0, frame);
    while (t.convert->pull(m_converted.get()))
        hand(t, m_converted.get());
}

void AudioMixer::openConverter(Track& t, const AVFrame* frame) {
    t.convertIn = AudioFilterGraph::inputOf(frame, m_in->streams[t.stream]->time_base);
    // A mono microphone goes to both sides at full level, not 3 dB down.
    const std::string upmix =
        frame->ch_layout.nb_channels == 1 ? "channelmap=map=0-FL|0-FR:channel_layout=stereo," : "";
    t.convert.emplace(std::vector{t.convertIn},
                      "[in0]" + upmix + "aresample=48000," + kStereoFloat + "[out]");
}

void AudioMixer::endConverter(Track& t) {
    if (!t.convert)
        return;
    t.convert->push(0, nullptr);
    while (t.convert->pull(m_converted.get()))
        hand(t, m_converted.get());
}

void AudioMixer::hand(Track& t, AVFrame* frame) {
    if (frame->pts != AV_NOPTS_VALUE)
        frame->pts = av_rescale_q(frame->pts, t.convert->outputTimeBase(), kTimeBase);
    else
        frame->pts = t.mixedUntil;
    m_mix->push(t.input, frame);
    t.mixedUntil = std::max(t.mixedUntil, frame->pts + frame->nb_samples);
}

// Silence from where `t` has got to up to `upTo`, once at least `minimum` samples are missing.
void AudioMixer::padTo(Track& t, int64_t upTo, int64_t minimum) {
    if (upTo - t.mixedUntil < std::max<int64_t>(minimum, 1))
        return;
    while (t.mixedUntil < upTo) {
        FramePtr silence = makeFrame();
        silence->format = AV_SAMPLE_FMT_FLTP;
        silence->sample_rate = kRate;
        av_channel_layout_default(&silence->ch_layout, 2);
        silence->nb_samples = int(std::min<int64_t>(upTo - t.mixedUntil, kRate));
        if (av_frame_get_buffer(silence.get(), 0) < 0)
            throw MediaError(MediaError::Kind::read, "out of memory for audio");
        av_samples_set_silence(silence->extended_data, 0, silence->nb_samples, 2,
                               AV_SAMPLE_FMT_FLTP);
        silence->pts = t.mixedUntil;
        m_mix->push(t.input, silence.get());
        t.mixedUntil += silence->nb_samples;
    }
}

// Encodes what the mix has ready, cut at the end of the kept range.
void AudioMixer::encodeMixed() {
    while (m_mix->pull(m_mixed.get())) {
        const int64_t room = m_total - m_emitted;
        if (room <= 0)
            continue;
        m_mixed->nb_samples = int(std::min<int64_t>(m_mixed->nb_samples, room));
        m_mixed->pts = m_emitted;
        m_emitted += m_mixed->nb_samples;
        encode(m_mixed.get());
    }
}

void AudioMixer::encode(const AVFrame* frame) {
    encodeAndDrain(
        m_enc.get(), frame,
        [&](PacketPtr pkt) {
            pkt->stream_index = m_ost->index;
            m_out.write(pkt.get(), m_enc->time_base);
        },
        "cannot encode the audio");
}

} // namespace vantel::media
