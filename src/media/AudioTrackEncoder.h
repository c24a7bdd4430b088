#pragma once

// One AAC track of the segmenting writer. Chunks of float PCM (any channel count, any rate) are
// converted to the track's layout at 48 kHz and placed on the track's timeline by their time
// stamps: a gap is filled with silence, audio that overlaps what the track already holds is
// dropped, and jitter below kTolerance is absorbed, so the track never drifts from the video.
//
// Timeline: sample 0 is the writer's first video frame. The encoder's priming delay equals
// kTimelineOffset, so packet time stamps (1/48000) place timeline sample s at s + kPriming in
// the file, the same place the video's timeline offset gives the matching frame.
//
// Thread: used by one thread at a time. Errors are thrown as MediaError (openOutput from the
// constructor, write from the others).

#include "FfmpegPtr.h"
#include "MediaSample.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace vantel::media {

class AudioTrackEncoder {
public:
    using PacketHandler = std::function<void(PacketPtr)>;
    static constexpr int kSampleRate = 48000;
    static constexpr AVRational kTimeBase{1, kSampleRate};
    static constexpr int64_t kPriming = 1024;
    static constexpr int64_t kTolerance = kSampleRate / 50; // 20 ms

    AudioTrackEncoder(int channels, int64_t bitRate, PacketHandler onPacket);

    const AVCodecContext& context() const { return *m_ctx; }

    // Places `chunk` so that its first sample lands at timeline sample `startSample`.
    void push(const AudioChunk& chunk, int64_t startSample);
    // Fills the track with silence up to timeline sample `sample` and encodes what is complete.
    void padTo(int64_t sample);
    // Ends the track at timeline sample `endSample` (padding or cutting) and drains the encoder.
    void finishAt(int64_t endSample);

    // File time (kTimeBase) up to which packets have been handed out.
    int64_t emittedUntil() const { return m_emittedUntil; }
    // Timeline sample after the last one the track holds.
    int64_t queuedUntil() const { return m_queuedUntil; }

private:
    void convert(const AudioChunk& chunk);
    void append(int offset, int count);
    void appendSilence(int64_t count);
    void encodeFrames(int64_t upTo);
    void encodeFrame(int count);
    void send(const AVFrame* frame);

    CodecContextPtr m_ctx;
    SwrPtr m_swr;
    int m_swrChannels = 0;
    int m_swrRate = 0;
    AudioFifoPtr m_fifo;
    FramePtr m_converted; // the last chunk after conversion, planar float
    PacketHandler m_onPacket;
    int64_t m_queuedUntil = 0;  // timeline samples put into the FIFO, silence included
    int64_t m_encodedUntil = 0; // timeline samples handed to the encoder
    int64_t m_emittedUntil = 0;
};

} // namespace vantel::media
