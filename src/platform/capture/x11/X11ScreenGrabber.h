#pragma once

// Grabs one region of the root window and turns it into an encoder input frame: MIT-SHM into a
// shared segment (plain GetImage when the server refuses shared memory), the cursor blended in
// when asked, then ScreenConverter.
//
// Thread: the capture sample thread only; it uses the connection it was given exclusively.

#include "media/FfmpegPtr.h"
#include "platform/capture/ScreenConverter.h"
#include "platform/x11/X11Connection.h"

#include <cstdint>

namespace vantel::platform {

struct GrabRegion {
    int x = 0, y = 0, width = 0, height = 0;
};

class X11ScreenGrabber {
public:
    // The region is clipped to the screen. Throws std::runtime_error when it is empty, the
    // screen format is not 32-bit true colour, or the converter cannot be set up.
    X11ScreenGrabber(X11Connection& x, GrabRegion region, int outWidth, int outHeight,
                     bool showCursor);
    ~X11ScreenGrabber();
    X11ScreenGrabber(const X11ScreenGrabber&) = delete;
    X11ScreenGrabber& operator=(const X11ScreenGrabber&) = delete;

    // One converted frame (pts left 0). Throws std::runtime_error when the screen cannot be
    // read, e.g. the connection is lost or the region left the screen.
    media::FramePtr grab();

    bool usesSharedMemory() const { return m_shmSeg != 0; }

private:
    bool attachSharedMemory();
    void detachSharedMemory();
    uint8_t* readPixels();
    uint8_t* readPixelsPlain();
    void blendCursor(uint8_t* pixels);

    X11Connection& m_x;
    GrabRegion m_region;
    bool m_showCursor;
    bool m_haveXFixes = false;
    uint32_t m_shmSeg = 0;
    int m_shmId = -1;
    uint8_t* m_shmAddr = nullptr;
    std::unique_ptr<uint8_t[]> m_plain; // GetImage copy when shared memory is not available
    std::unique_ptr<ScreenConverter> m_converter;
};

} // namespace vantel::platform
