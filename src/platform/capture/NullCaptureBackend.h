#pragma once

// Capture where nothing can be captured: permission granted, no displays, streams that start
// and never deliver. The controller then reports "No display to record." on its own.

#include "platform/capture/CaptureBackend.h"

namespace vantel::platform {

class NullCaptureStream : public CaptureStream {
public:
    void start() override {}
    void stop() override {}
};

class NullCaptureBackend : public CaptureBackend {
public:
    bool hasPermission() override { return true; }
    std::vector<CaptureDisplay> displays() override { return {}; }
    std::optional<uint32_t> mainDisplay() override { return std::nullopt; }
    std::unique_ptr<CaptureStream> createStream(const StreamConfig&, SampleHandler&) override {
        return std::make_unique<NullCaptureStream>();
    }
};

} // namespace vantel::platform
