#pragma once

// Generated samples for tests and benchmarks: a moving picture and sine tones, time-stamped like
// captured samples.

#include "media/MediaSample.h"

namespace vantel::test {

// A yuv420p picture (BT.709 limited range) of a diagonal gradient that scrolls with `index`, with
// a bright square moving across it, so that every frame differs from the one before.
media::VideoFrame makeFrame(int width, int height, int64_t index, double pts);

// `frames` frames of a sine tone at `freq` Hz, interleaved float, amplitude 0.5. The phase
// follows the absolute time `pts`, so consecutive chunks join without a click.
media::AudioChunk makeTone(double freq, int channels, int frames, double pts,
                           int sampleRate = 48000);

} // namespace vantel::test
