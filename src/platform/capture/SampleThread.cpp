#include "platform/capture/SampleThread.h"

#include <pthread.h>

namespace vantel::platform {

SampleThread::SampleThread(SampleHandler& handler, std::function<void()> videoStep)
    : m_handler(handler)
    , m_videoStep(std::move(videoStep)) {}

SampleThread::~SampleThread() {
    stop();
}

void SampleThread::start(int fps) {
    if (m_thread.joinable())
        return;
    {
        std::lock_guard lock(m_lock);
        m_stopping = false;
    }
    m_thread = std::thread([this, fps] { run(fps); });
}

void SampleThread::stop() {
    {
        std::lock_guard lock(m_lock);
        m_stopping = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
    std::lock_guard lock(m_lock);
    m_audio.clear();
    m_error.reset();
}

std::unique_ptr<SoundSource> SampleThread::startSound(bool withMic) {
    auto sound = createSoundSource(
        withMic, [this](media::AudioChunk&& chunk, bool mic) { pushAudio(std::move(chunk), mic); },
        [this](const std::string& message) { pushError(message); });
    sound->start();
    return sound;
}

void SampleThread::pushAudio(media::AudioChunk&& chunk, bool fromMic) {
    std::lock_guard lock(m_lock);
    if (m_audio.size() < kAudioQueueLimit)
        m_audio.emplace_back(std::move(chunk), fromMic);
}

void SampleThread::pushError(const std::string& message) {
    {
        std::lock_guard lock(m_lock);
        if (!m_error)
            m_error = message;
    }
    m_wake.notify_all();
}

// Sleeps until the deadline; false when the stream is stopping or failed.
bool SampleThread::waitUntil(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock lock(m_lock);
    m_wake.wait_until(lock, deadline, [this] { return m_stopping || m_error.has_value(); });
    return !m_stopping && !m_error;
}

void SampleThread::deliverAudio() {
    std::deque<std::pair<media::AudioChunk, bool>> batch;
    {
        std::lock_guard lock(m_lock);
        batch.swap(m_audio);
    }
    for (auto& [chunk, mic] : batch)
        m_handler.onAudio(chunk, mic);
}

void SampleThread::run(int fps) {
    pthread_setname_np(pthread_self(), "record.capture");
    using clock = std::chrono::steady_clock; // CLOCK_MONOTONIC on Linux
    const auto interval = std::chrono::nanoseconds(1'000'000'000LL / fps);
    auto deadline = clock::now();
    while (waitUntil(deadline)) {
        deliverAudio();
        try {
            m_videoStep();
        } catch (const std::exception& e) {
            pushError(e.what());
            break;
        }
        // The next tick stays on the grid of the first one. A tick that is due is taken at
        // once, late; a tick whose successor is due as well is skipped, never queued.
        deadline += interval;
        const auto late = clock::now() - deadline;
        if (late >= interval) {
            const auto missed = late / interval;
            m_skipped += uint64_t(missed);
            deadline += missed * interval;
        }
    }
    reportFailure();
}

void SampleThread::reportFailure() {
    std::optional<std::string> error;
    {
        std::lock_guard lock(m_lock);
        if (!m_stopping)
            error = m_error;
    }
    if (error)
        m_handler.onStreamStopped(*error);
}

} // namespace vantel::platform
