#pragma once

// The samples that flow from capture to the encoder. Times are seconds on one monotonic clock
// (the capture clock); every producer stamps its samples on it.

#include "FfmpegPtr.h"

#include <chrono>
#include <cstdint>
#include <vector>

namespace vantel::media {

// Now on the capture clock: seconds of CLOCK_MONOTONIC, which std::chrono::steady_clock reads on
// Linux.
inline double captureClockNow() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// One picture in the encoder's input format: AV_PIX_FMT_YUV420P at the encoded size, BT.709
// limited range. The frame is owned by the sample; consumers that keep it take a reference
// (av_frame_ref) rather than copying pixels.
struct VideoFrame {
    FramePtr frame;
    double pts = 0.0;
};

// Interleaved 32-bit float PCM at 48 kHz. `channels` is 2 for system sound and 1 or 2 for the
// microphone; the encoder downmixes or upmixes to its track layout.
struct AudioChunk {
    std::vector<float> samples;
    int channels = 2;
    int sampleRate = 48000;
    double pts = 0.0;

    int64_t frameCount() const { return channels > 0 ? int64_t(samples.size()) / channels : 0; }
};

} // namespace vantel::media
