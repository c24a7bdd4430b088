#pragma once

// The sample thread of a capture stream, named "record.capture": it ticks at a fixed frame
// interval paced by CLOCK_MONOTONIC deadlines, and at each tick hands on the sound chunks that
// arrived meanwhile (through a small bounded queue), then runs the stream's own video step.
// Every handler call happens on this thread, in time order per kind, audio first at each tick.
// A failure reported from any thread, or thrown by the video step, ends the thread and reaches
// the handler once, unless the owner was stopping anyway.
//
// A failure pushed before start() (a sound source fails while the stream is still starting) is
// kept: the thread ends at once and reports it. stop() forgets it, so a restart starts clean.
//
// Threads: start()/stop() from the stream's owner; pushAudio()/pushError() from any thread.

#include "platform/capture/CaptureBackend.h"
#include "platform/capture/CaptureInternal.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>

namespace vantel::platform {

class SampleThread {
public:
    // Chunks waiting for the thread; beyond this the newest are dropped (the thread is stalled
    // and the encoder would drop them anyway).
    static constexpr size_t kAudioQueueLimit = 64;

    // `videoStep` runs once per tick on the thread; an exception from it stops the stream with
    // its message.
    SampleThread(SampleHandler& handler, std::function<void()> videoStep);
    ~SampleThread();
    SampleThread(const SampleThread&) = delete;
    SampleThread& operator=(const SampleThread&) = delete;

    void start(int fps);
    // Joins the thread and forgets the sound still queued. No handler call follows.
    void stop();
    bool running() const { return m_thread.joinable(); }
    // Ticks skipped because their successor was due already: a stall costs frames, not latency.
    uint64_t skippedFrames() const { return m_skipped; }

    // A started sound source (the system sound, and the microphone when asked) whose chunks and
    // failure come to this thread. Throws as SoundSource::start() does.
    std::unique_ptr<SoundSource> startSound(bool withMic);

    void pushAudio(media::AudioChunk&& chunk, bool fromMic);
    void pushError(const std::string& message);

private:
    void run(int fps);
    bool waitUntil(std::chrono::steady_clock::time_point deadline);
    void deliverAudio();
    void reportFailure();

    SampleHandler& m_handler;
    std::function<void()> m_videoStep;
    std::thread m_thread;               // the owner's, in start() and stop()
    std::atomic<uint64_t> m_skipped{0}; // written by the thread, read by anyone

    std::mutex m_lock;
    std::condition_variable m_wake; // waits on m_lock: for m_stopping or m_error
    // The following fields are protected by m_lock.
    std::deque<std::pair<media::AudioChunk, bool>> m_audio;
    std::optional<std::string> m_error;
    bool m_stopping = false;
};

} // namespace vantel::platform
