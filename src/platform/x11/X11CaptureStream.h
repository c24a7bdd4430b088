#pragma once

// One capture run on X11: a sample thread named "record.capture" grabs the monitor at a fixed
// frame interval paced by CLOCK_MONOTONIC deadlines, and passes on the sound chunks that
// PulseAudioSource hands over through a small bounded queue. Every handler call happens on that
// thread, in time order per kind, audio first at each tick.
//
// Threads: start()/stop() from the owner (the main thread). m_lock guards m_audio, m_error and
// m_stopping; the grabber and the X connection belong to the sample thread once it runs.

#include "X11Connection.h"
#include "X11ScreenGrabber.h"
#include "platform/CaptureSource.h"
#include "platform/pulse/PulseAudioSource.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

namespace vantel::platform {

class X11CaptureStream : public CaptureStream {
public:
    X11CaptureStream(const StreamConfig& config, SampleHandler& handler);
    ~X11CaptureStream() override;

    void start() override;
    void stop() override;
    uint64_t skippedFrames() const override { return m_skipped; }

    // Chunks waiting for the sample thread; beyond this the newest are dropped (the thread is
    // stalled and the encoder would drop them anyway).
    static constexpr size_t kAudioQueueLimit = 64;

private:
    void run();
    bool waitUntil(std::chrono::steady_clock::time_point deadline);
    void deliverAudio();
    void pushAudio(media::AudioChunk&& chunk, bool fromMic);
    void pushError(const std::string& message);
    void grabOne();

    StreamConfig m_config;
    SampleHandler& m_handler;
    std::unique_ptr<X11Connection> m_x;
    std::unique_ptr<X11ScreenGrabber> m_grabber;
    std::unique_ptr<PulseAudioSource> m_sound;
    std::thread m_thread;
    std::atomic<uint64_t> m_skipped{0};

    std::mutex m_lock;
    std::condition_variable m_wake;
    std::deque<std::pair<media::AudioChunk, bool>> m_audio;
    std::optional<std::string> m_error;
    bool m_stopping = false;
};

} // namespace vantel::platform
