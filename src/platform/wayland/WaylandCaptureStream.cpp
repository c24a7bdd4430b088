#include "WaylandCaptureStream.h"

extern "C" {
#include <libavutil/frame.h>
}
#include <pthread.h>

namespace vantel::platform {

WaylandCaptureStream::WaylandCaptureStream(std::unique_ptr<ScreenCast> cast,
                                           const StreamConfig& config, SampleHandler& handler)
    : m_cast(std::move(cast))
    , m_config(config)
    , m_handler(handler) {
    if (m_config.fps <= 0)
        m_config.fps = 60;
    if (m_config.width <= 0 || m_config.height <= 0) {
        m_config.width = m_cast->width() & ~1;
        m_config.height = m_cast->height() & ~1;
    }
}

WaylandCaptureStream::~WaylandCaptureStream() {
    stop();
}

void WaylandCaptureStream::start() {
    if (m_thread.joinable())
        return;
    if (!m_cast)
        throw std::runtime_error("The screen share has ended.");
    m_stopping = false;
    m_video = std::make_unique<PipeWireVideo>(
        m_cast->openPipeWireRemote(), m_cast->node(), m_config.width, m_config.height, m_config.fps,
        [this](media::FramePtr picture) { keepPicture(std::move(picture)); },
        [this](const std::string& message) { pushError(message); });
    m_video->start();
    m_sound = std::make_unique<PulseAudioSource>(
        m_config.captureMic,
        [this](media::AudioChunk&& chunk, bool mic) { pushAudio(std::move(chunk), mic); },
        [this](const std::string& message) { pushError(message); });
    m_sound->start();
    m_thread = std::thread([this] { run(); });
}

void WaylandCaptureStream::stop() {
    if (m_sound)
        m_sound->stop();
    {
        std::lock_guard lock(m_lock);
        m_stopping = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
    if (m_video)
        m_video->stop();
    m_video.reset();
    m_sound.reset();
    // Closing the portal session ends the cast (and the desktop's "sharing" indicator).
    m_cast.reset();
    std::lock_guard lock(m_lock);
    m_audio.clear();
    m_latest.reset();
}

void WaylandCaptureStream::keepPicture(media::FramePtr picture) {
    ++m_received;
    std::lock_guard lock(m_lock);
    m_latest = std::move(picture);
}

void WaylandCaptureStream::pushAudio(media::AudioChunk&& chunk, bool fromMic) {
    std::lock_guard lock(m_lock);
    if (m_audio.size() < kAudioQueueLimit)
        m_audio.emplace_back(std::move(chunk), fromMic);
}

void WaylandCaptureStream::pushError(const std::string& message) {
    {
        std::lock_guard lock(m_lock);
        if (!m_error)
            m_error = message;
    }
    m_wake.notify_all();
}

// Sleeps until the deadline; false when the stream is stopping or failed.
bool WaylandCaptureStream::waitUntil(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock lock(m_lock);
    m_wake.wait_until(lock, deadline, [this] { return m_stopping || m_error.has_value(); });
    return !m_stopping && !m_error;
}

void WaylandCaptureStream::deliverAudio() {
    std::deque<std::pair<media::AudioChunk, bool>> batch;
    {
        std::lock_guard lock(m_lock);
        batch.swap(m_audio);
    }
    for (auto& [chunk, mic] : batch)
        m_handler.onAudio(chunk, mic);
}

// The newest picture again, as a new reference to the same pixels: consumers keep frames, and
// one that stamps or releases its copy must not touch the next tick's.
void WaylandCaptureStream::deliverPicture() {
    media::FramePtr copy;
    {
        std::lock_guard lock(m_lock);
        if (m_latest)
            copy.reset(av_frame_clone(m_latest.get()));
    }
    if (!copy)
        return;
    media::VideoFrame frame{std::move(copy), media::captureClockNow()};
    m_handler.onVideo(frame, FrameStatus::complete);
}

void WaylandCaptureStream::run() {
    pthread_setname_np(pthread_self(), "record.capture");
    using clock = std::chrono::steady_clock; // CLOCK_MONOTONIC on Linux
    const auto interval = std::chrono::nanoseconds(1'000'000'000LL / m_config.fps);
    auto deadline = clock::now();
    while (waitUntil(deadline)) {
        deliverAudio();
        deliverPicture();
        // Ticks stay on the grid of the first one; a tick whose successor is already due is
        // skipped, never queued, so a stall costs frames and not latency.
        deadline += interval;
        const auto late = clock::now() - deadline;
        if (late >= interval) {
            const auto missed = late / interval;
            m_skipped += uint64_t(missed);
            deadline += missed * interval;
        }
    }
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
