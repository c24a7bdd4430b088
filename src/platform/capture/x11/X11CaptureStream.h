#pragma once

// One capture run on X11: the sample thread (SampleThread) grabs the monitor at each tick and
// passes on the sound chunks the sound source (SoundSource) hands over.
//
// Threads: start()/stop() from the owner (the main thread). The grabber and the X connection
// belong to the sample thread while it runs.

#include "platform/capture/CaptureBackend.h"
#include "platform/capture/SampleThread.h"
#include "platform/capture/x11/X11ScreenGrabber.h"
#include "platform/x11/X11Connection.h"

#include <memory>

namespace vantel::platform {

class X11CaptureStream : public CaptureStream {
public:
    X11CaptureStream(const StreamConfig& config, SampleHandler& handler);
    ~X11CaptureStream() override;

    void start() override;
    void stop() override;
    uint64_t skippedFrames() const override { return m_samples.skippedFrames(); }

private:
    void grabOne();

    StreamConfig m_config;
    SampleHandler& m_handler;
    std::unique_ptr<X11Connection> m_x;
    std::unique_ptr<X11ScreenGrabber> m_grabber;
    std::unique_ptr<SoundSource> m_sound;
    SampleThread m_samples;
};

} // namespace vantel::platform
