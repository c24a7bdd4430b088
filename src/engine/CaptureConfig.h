#pragma once

// The settings a capture run is built from, read afresh at every start.

#include "RecordingOptions.h"

namespace vantel {

struct CaptureConfig {
    int bufferSeconds = 30;
    int maxHeight = 1440;
    int fps = 60;
    Quality quality = Quality::high;
    Codec codec = Codec::h264;
    CaptureMode mode = CaptureMode::games;
    bool recordMic = false;
    bool showCursor = false;
};

} // namespace vantel
