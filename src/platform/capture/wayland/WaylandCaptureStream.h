#pragma once

// One capture run on Wayland: the pictures of a screen cast (see ScreenCastPortal) arrive from
// PipeWire only when the screen changes; a sample thread named "record.capture" hands the newest
// one on at each tick of the sample thread (SampleThread), repeating it while the screen stands
// still, so the video keeps its constant rate. The sound comes from the Pulse server (PipeWire's,
// on such desktops) through PulseAudioSource, as on X11.
//
// Threads: start()/stop() from the owner; they alone touch the cast, the video and the sound.
// PipeWire's thread writes the newest picture and the sample thread reads it.

#include "platform/capture/CaptureBackend.h"
#include "platform/capture/SampleThread.h"
#include "platform/capture/wayland/PipeWireVideo.h"
#include "platform/capture/wayland/ScreenCastPortal.h"

#include <atomic>
#include <memory>
#include <mutex>

namespace vantel::platform {

class WaylandCaptureStream : public CaptureStream {
public:
    // Takes the started cast over; it is closed when the stream stops or fails to start.
    WaylandCaptureStream(std::unique_ptr<ScreenCast> cast, const StreamConfig& config,
                         SampleHandler& handler);
    ~WaylandCaptureStream() override;

    void start() override;
    void stop() override;
    uint64_t skippedFrames() const override { return m_samples.skippedFrames(); }
    // Pictures PipeWire delivered since start (each a change of the screen).
    uint64_t receivedPictures() const { return m_received; }

private:
    void deliverPicture();
    void keepPicture(media::FramePtr picture);

    std::unique_ptr<ScreenCast> m_cast;
    StreamConfig m_config;
    SampleHandler& m_handler;
    std::unique_ptr<PipeWireVideo> m_video;
    std::unique_ptr<SoundSource> m_sound;
    std::atomic<uint64_t> m_received{0}; // written on PipeWire's thread
    SampleThread m_samples;

    std::mutex m_pictureLock;
    // The following fields are protected by m_pictureLock.
    media::FramePtr m_latest;
};

} // namespace vantel::platform
