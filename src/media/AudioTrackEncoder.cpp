#include "AudioTrackEncoder.h"

#include "CodecIo.h"
#include "MediaError.h"

#include <algorithm>
#include <string>

namespace vantel::media {

namespace {

[[noreturn]] void fail(const std::string& what, int err) {
    throw MediaError(MediaError::Kind::write, what + ": " + averror(err));
}

constexpr int64_t kSilenceBlock = 4096;

} // namespace

AudioTrackEncoder::AudioTrackEncoder(int channels, int64_t bitRate, PacketHandler onPacket)
    : m_onPacket(std::move(onPacket)) {
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (!codec)
        throw MediaError(MediaError::Kind::openOutput, "The AAC encoder is not available.");
    m_ctx.reset(avcodec_alloc_context3(codec));
    AVCodecContext* c = m_ctx.get();
    c->sample_fmt = AV_SAMPLE_FMT_FLTP;
    c->sample_rate = kSampleRate;
    av_channel_layout_default(&c->ch_layout, channels);
    c->bit_rate = bitRate;
    c->profile = FF_PROFILE_AAC_LOW;
    c->time_base = kTimeBase;
    c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (int err = avcodec_open2(c, codec, nullptr); err < 0)
        throw MediaError(MediaError::Kind::openOutput,
                         "Could not open the AAC encoder: " + averror(err));
    m_fifo.reset(av_audio_fifo_alloc(AV_SAMPLE_FMT_FLTP, channels, c->frame_size * 4));
    if (!m_fifo)
        throw MediaError(MediaError::Kind::openOutput, "Out of memory for audio.");
}

void AudioTrackEncoder::push(const AudioChunk& chunk, int64_t startSample) {
    if (chunk.channels <= 0 || chunk.sampleRate <= 0 || chunk.frameCount() == 0)
        return;
    convert(chunk);
    int count = m_converted->nb_samples;
    int64_t gap = startSample - m_queuedUntil;
    int skip = 0;
    if (gap > kTolerance)
        appendSilence(gap);
    else if (gap < -kTolerance)
        skip = int(std::min<int64_t>(-gap, count));
    append(skip, count - skip);
    encodeFrames(m_queuedUntil);
}

void AudioTrackEncoder::convert(const AudioChunk& chunk) {
    if (!m_swr || chunk.channels != m_swrChannels || chunk.sampleRate != m_swrRate) {
        AVChannelLayout in{};
        av_channel_layout_default(&in, chunk.channels);
        SwrContext* swr = nullptr;
        int err = swr_alloc_set_opts2(&swr, &m_ctx->ch_layout, AV_SAMPLE_FMT_FLTP, kSampleRate, &in,
                                      AV_SAMPLE_FMT_FLT, chunk.sampleRate, 0, nullptr);
        m_swr.reset(swr);
        if (err < 0 || (err = swr_init(swr)) < 0)
            fail("Could not convert the audio", err);
        m_swrChannels = chunk.channels;
        m_swrRate = chunk.sampleRate;
    }
    int inCount = int(chunk.frameCount());
    m_converted = makeFrame();
    m_converted->format = AV_SAMPLE_FMT_FLTP;
    av_channel_layout_copy(&m_converted->ch_layout, &m_ctx->ch_layout);
    m_converted->nb_samples = swr_get_out_samples(m_swr.get(), inCount);
    if (int err = av_frame_get_buffer(m_converted.get(), 0); err < 0)
        fail("Out of memory for audio", err);
    const uint8_t* in = reinterpret_cast<const uint8_t*>(chunk.samples.data());
    int got =
        swr_convert(m_swr.get(), m_converted->extended_data, m_converted->nb_samples, &in, inCount);
    if (got < 0)
        fail("Could not convert the audio", got);
    m_converted->nb_samples = got;
}

void AudioTrackEncoder::append(int offset, int count) {
    if (count <= 0)
        return;
    std::vector<void*> planes(size_t(m_converted->ch_layout.nb_channels));
    for (size_t i = 0; i < planes.size(); ++i)
        planes[i] = m_converted->extended_data[i] + size_t(offset) * sizeof(float);
    if (int err = av_audio_fifo_write(m_fifo.get(), planes.data(), count); err < 0)
        fail("Out of memory for audio", err);
    m_queuedUntil += count;
}

void AudioTrackEncoder::appendSilence(int64_t count) {
    int channels = m_ctx->ch_layout.nb_channels;
    std::vector<float> zeros(size_t(std::min(count, kSilenceBlock)), 0.0f);
    std::vector<void*> planes(size_t(channels), zeros.data());
    while (count > 0) {
        int n = int(std::min<int64_t>(count, kSilenceBlock));
        if (int err = av_audio_fifo_write(m_fifo.get(), planes.data(), n); err < 0)
            fail("Out of memory for audio", err);
        m_queuedUntil += n;
        count -= n;
        encodeFrames(m_queuedUntil);
    }
}

void AudioTrackEncoder::padTo(int64_t sample) {
    if (sample > m_queuedUntil)
        appendSilence(sample - m_queuedUntil);
}

void AudioTrackEncoder::finishAt(int64_t endSample) {
    padTo(endSample);
    endSample = std::max(endSample, m_encodedUntil);
    encodeFrames(endSample);
    if (endSample > m_encodedUntil)
        encodeFrame(int(endSample - m_encodedUntil));
    send(nullptr);
}

// Encodes whole frames while the FIFO holds them and they end at or before `upTo`.
void AudioTrackEncoder::encodeFrames(int64_t upTo) {
    const int frameSize = m_ctx->frame_size;
    while (av_audio_fifo_size(m_fifo.get()) >= frameSize && m_encodedUntil + frameSize <= upTo)
        encodeFrame(frameSize);
}

void AudioTrackEncoder::encodeFrame(int count) {
    FramePtr frame = makeFrame();
    frame->format = AV_SAMPLE_FMT_FLTP;
    av_channel_layout_copy(&frame->ch_layout, &m_ctx->ch_layout);
    frame->sample_rate = kSampleRate;
    frame->nb_samples = count;
    if (int err = av_frame_get_buffer(frame.get(), 0); err < 0)
        fail("Out of memory for audio", err);
    int got =
        av_audio_fifo_read(m_fifo.get(), reinterpret_cast<void**>(frame->extended_data), count);
    if (got < count)
        av_samples_set_silence(frame->extended_data, std::max(got, 0), count - std::max(got, 0),
                               frame->ch_layout.nb_channels, AV_SAMPLE_FMT_FLTP);
    frame->pts = m_encodedUntil + kPriming;
    m_encodedUntil += count;
    send(frame.get());
}

void AudioTrackEncoder::send(const AVFrame* frame) {
    auto emit = [&](PacketPtr packet) {
        m_emittedUntil = std::max(m_emittedUntil, packet->pts + packet->duration);
        m_onPacket(std::move(packet));
    };
    encodeAndDrain(m_ctx.get(), frame, emit, "Audio encoding failed");
}

} // namespace vantel::media
