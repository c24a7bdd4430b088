#pragma once

// Packed RGB screen pictures (full range) to the encoder's frames: one swscale pass that scales
// and converts to yuv420p, BT.709 limited range, as every video track declares. A fast bilinear
// filter is plenty for a downscale the encoder then compresses, at a fraction of bicubic's cost.
// Used from one thread at a time (swscale contexts are not shared).

#include "media/FfmpegPtr.h"

namespace vantel::platform {

class ScreenConverter {
public:
    // Throws std::runtime_error("The screen converter could not be set up.") where swscale
    // cannot convert `packed` at these sizes.
    ScreenConverter(int width, int height, AVPixelFormat packed, int outWidth, int outHeight);

    // One picture of the input size, rows `stride` bytes apart; null when out of memory.
    media::FramePtr convert(const uint8_t* pixels, int stride) const;

private:
    int m_height;
    int m_outWidth, m_outHeight;
    media::SwsPtr m_sws;
};

} // namespace vantel::platform
