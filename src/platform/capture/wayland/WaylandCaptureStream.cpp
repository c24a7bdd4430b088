#include "platform/capture/wayland/WaylandCaptureStream.h"

extern "C" {
#include <libavutil/frame.h>
}

namespace vantel::platform {

WaylandCaptureStream::WaylandCaptureStream(std::unique_ptr<ScreenCast> cast,
                                           const StreamConfig& config, SampleHandler& handler)
    : m_cast(std::move(cast))
    , m_config(config)
    , m_handler(handler)
    , m_samples(handler, [this] { deliverPicture(); }) {
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
    if (m_samples.running())
        return;
    if (!m_cast)
        throw std::runtime_error("The screen share has ended.");
    try {
        m_video = std::make_unique<PipeWireVideo>(
            m_cast->openPipeWireRemote(), m_cast->node(), m_config.width, m_config.height,
            m_config.fps, [this](media::FramePtr picture) { keepPicture(std::move(picture)); },
            [this](const std::string& message) { m_samples.pushError(message); });
        m_video->start();
        m_sound = m_samples.startSound(m_config.captureMic);
        m_samples.start(m_config.fps);
    } catch (...) {
        // A stream that did not start ends its cast at once: the desktop would otherwise show
        // the screen as shared until the next restart.
        stop();
        throw;
    }
}

void WaylandCaptureStream::stop() {
    // The sources first: what they report after the sample thread stopped would outlive it.
    if (m_sound)
        m_sound->stop();
    if (m_video)
        m_video->stop();
    m_samples.stop();
    m_video.reset();
    m_sound.reset();
    // Closing the portal session ends the cast (and the desktop's "sharing" indicator).
    m_cast.reset();
    std::lock_guard lock(m_pictureLock);
    m_latest.reset();
}

void WaylandCaptureStream::keepPicture(media::FramePtr picture) {
    ++m_received;
    std::lock_guard lock(m_pictureLock);
    m_latest = std::move(picture);
}

// The newest picture again, as a new reference to the same pixels: consumers keep frames, and
// one that stamps or releases its copy must not touch the next tick's.
void WaylandCaptureStream::deliverPicture() {
    media::FramePtr copy;
    {
        std::lock_guard lock(m_pictureLock);
        if (m_latest)
            copy.reset(av_frame_clone(m_latest.get()));
    }
    if (!copy)
        return;
    media::VideoFrame frame{std::move(copy), media::captureClockNow()};
    m_handler.onVideo(frame, FrameStatus::complete);
}

} // namespace vantel::platform
