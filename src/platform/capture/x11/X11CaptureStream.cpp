#include "platform/capture/x11/X11CaptureStream.h"

namespace vantel::platform {

X11CaptureStream::X11CaptureStream(const StreamConfig& config, SampleHandler& handler)
    : m_config(config)
    , m_handler(handler)
    , m_samples(handler, [this] { grabOne(); }) {
    if (m_config.fps <= 0)
        m_config.fps = 60;
}

X11CaptureStream::~X11CaptureStream() {
    stop();
}

void X11CaptureStream::start() {
    if (m_samples.running())
        return;
    const CaptureDisplay& d = m_config.display;
    m_x = std::make_unique<X11Connection>();
    GrabRegion region{d.x, d.y, d.width, d.height};
    if (region.width <= 0 || region.height <= 0)
        region = {0, 0, m_x->screen().width_in_pixels, m_x->screen().height_in_pixels};
    int w = m_config.width > 0 ? m_config.width : region.width & ~1;
    int h = m_config.height > 0 ? m_config.height : region.height & ~1;
    m_grabber = std::make_unique<X11ScreenGrabber>(*m_x, region, w, h, m_config.showCursor);
    m_sound = m_samples.startSound(m_config.captureMic);
    m_samples.start(m_config.fps);
}

void X11CaptureStream::stop() {
    if (m_sound)
        m_sound->stop();
    m_samples.stop();
    m_grabber.reset();
    m_x.reset();
    m_sound.reset();
}

void X11CaptureStream::grabOne() {
    const double pts = media::captureClockNow();
    media::VideoFrame frame{m_grabber->grab(), pts};
    m_handler.onVideo(frame, FrameStatus::complete);
}

} // namespace vantel::platform
