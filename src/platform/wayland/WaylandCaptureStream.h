#pragma once

// One capture run on Wayland: the pictures of a screen cast (see ScreenCastPortal) arrive from
// PipeWire only when the screen changes; a sample thread named "record.capture" hands the newest
// one on at a fixed frame interval paced by CLOCK_MONOTONIC deadlines, repeating it while the
// screen stands still, so the video keeps its constant rate. The sound comes from the Pulse
// server (PipeWire's, on such desktops) through PulseAudioSource, as on X11. Every handler call
// happens on the sample thread, audio first at each tick.
//
// Threads: start()/stop() from the owner. m_lock guards m_latest, m_audio, m_error and
// m_stopping; PipeWire's thread writes m_latest, libpulse's thread m_audio.

#include "PipeWireVideo.h"
#include "ScreenCastPortal.h"
#include "platform/CaptureSource.h"
#include "platform/pulse/PulseAudioSource.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

namespace vantel::platform {

class WaylandCaptureStream : public CaptureStream {
public:
    // Takes the started cast over; it is closed when the stream stops.
    WaylandCaptureStream(std::unique_ptr<ScreenCast> cast, const StreamConfig& config,
                         SampleHandler& handler);
    ~WaylandCaptureStream() override;

    void start() override;
    void stop() override;
    uint64_t skippedFrames() const override { return m_skipped; }
    // Pictures PipeWire delivered since start (each a change of the screen).
    uint64_t receivedPictures() const { return m_received; }

    static constexpr size_t kAudioQueueLimit = 64;

private:
    void run();
    bool waitUntil(std::chrono::steady_clock::time_point deadline);
    void deliverAudio();
    void deliverPicture();
    void keepPicture(media::FramePtr picture);
    void pushAudio(media::AudioChunk&& chunk, bool fromMic);
    void pushError(const std::string& message);

    std::unique_ptr<ScreenCast> m_cast;
    StreamConfig m_config;
    SampleHandler& m_handler;
    std::unique_ptr<PipeWireVideo> m_video;
    std::unique_ptr<PulseAudioSource> m_sound;
    std::thread m_thread;
    std::atomic<uint64_t> m_skipped{0};
    std::atomic<uint64_t> m_received{0};

    std::mutex m_lock;
    std::condition_variable m_wake;
    media::FramePtr m_latest;
    std::deque<std::pair<media::AudioChunk, bool>> m_audio;
    std::optional<std::string> m_error;
    bool m_stopping = false;
};

} // namespace vantel::platform
