#pragma once

// Capture on an X11 display: monitors from RandR, streams of X11CaptureStream. Each query opens
// a short-lived connection of its own, so the backend may be asked from any thread.

#include "platform/capture/CaptureBackend.h"

namespace vantel::platform {

class X11CaptureBackend : public CaptureBackend {
public:
    bool hasPermission() override;
    std::vector<CaptureDisplay> displays() override;
    std::optional<uint32_t> mainDisplay() override;
    std::unique_ptr<CaptureStream> createStream(const StreamConfig& config,
                                                SampleHandler& handler) override;
};

} // namespace vantel::platform
