#include "X11CaptureStream.h"

#include <pthread.h>

namespace vantel::platform {

X11CaptureStream::X11CaptureStream(const StreamConfig& config, SampleHandler& handler)
    : m_config(config)
    , m_handler(handler) {
    if (m_config.fps <= 0)
        m_config.fps = 60;
}

X11CaptureStream::~X11CaptureStream() {
    stop();
}

void X11CaptureStream::start() {
    if (m_thread.joinable())
        return;
    const CaptureDisplay& d = m_config.display;
    m_x = std::make_unique<X11Connection>();
    GrabRegion region{d.x, d.y, d.width, d.height};
    if (region.width <= 0 || region.height <= 0)
        region = {0, 0, m_x->screen().width_in_pixels, m_x->screen().height_in_pixels};
    int w = m_config.width > 0 ? m_config.width : region.width & ~1;
    int h = m_config.height > 0 ? m_config.height : region.height & ~1;
    m_grabber = std::make_unique<X11ScreenGrabber>(*m_x, region, w, h, m_config.showCursor);
    m_sound = std::make_unique<PulseAudioSource>(
        m_config.captureMic,
        [this](media::AudioChunk&& chunk, bool mic) { pushAudio(std::move(chunk), mic); },
        [this](const std::string& message) { pushError(message); });
    m_sound->start();
    m_stopping = false;
    m_thread = std::thread([this] { run(); });
}

void X11CaptureStream::stop() {
    if (m_sound)
        m_sound->stop();
    {
        std::lock_guard lock(m_lock);
        m_stopping = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
    m_grabber.reset();
    m_x.reset();
    m_sound.reset();
    std::lock_guard lock(m_lock);
    m_audio.clear();
}

void X11CaptureStream::pushAudio(media::AudioChunk&& chunk, bool fromMic) {
    std::lock_guard lock(m_lock);
    if (m_audio.size() < kAudioQueueLimit)
        m_audio.emplace_back(std::move(chunk), fromMic);
}

void X11CaptureStream::pushError(const std::string& message) {
    {
        std::lock_guard lock(m_lock);
        if (!m_error)
            m_error = message;
    }
    m_wake.notify_all();
}

// Sleeps until the deadline; false when the stream is stopping or failed.
bool X11CaptureStream::waitUntil(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock lock(m_lock);
    m_wake.wait_until(lock, deadline, [this] { return m_stopping || m_error.has_value(); });
    return !m_stopping && !m_error;
}

void X11CaptureStream::deliverAudio() {
    std::deque<std::pair<media::AudioChunk, bool>> batch;
    {
        std::lock_guard lock(m_lock);
        batch.swap(m_audio);
    }
    for (auto& [chunk, mic] : batch)
        m_handler.onAudio(chunk, mic);
}

void X11CaptureStream::grabOne() {
    const double pts = media::captureClockNow();
    media::VideoFrame frame{m_grabber->grab(), pts};
    m_handler.onVideo(frame, FrameStatus::complete);
}

void X11CaptureStream::run() {
    pthread_setname_np(pthread_self(), "record.capture");
    using clock = std::chrono::steady_clock; // CLOCK_MONOTONIC on Linux
    const auto interval = std::chrono::nanoseconds(1'000'000'000LL / m_config.fps);
    auto deadline = clock::now();
    while (waitUntil(deadline)) {
        deliverAudio();
        try {
            grabOne();
        } catch (const std::exception& e) {
            pushError(e.what());
            break;
        }
        // The next tick stays on the grid of the first one. A tick that is due is grabbed at
        // once, late; a tick whose successor is due as well is skipped, never queued, so a slow
        // grab costs frames and not latency.
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
