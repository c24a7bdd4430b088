#include "platform/capture/x11/X11ScreenGrabber.h"

extern "C" {
#include <libavutil/opt.h>
}
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <xcb/shm.h>
#include <xcb/xfixes.h>

namespace vantel::platform {

namespace {

template <typename T> using Reply = std::unique_ptr<T, decltype(&std::free)>;
template <typename T> Reply<T> reply(T* r) {
    return Reply<T>(r, &std::free);
}

GrabRegion clip(GrabRegion r, const xcb_screen_t& s) {
    int x0 = std::max(r.x, 0), y0 = std::max(r.y, 0);
    int x1 = std::min(r.x + r.width, int(s.width_in_pixels));
    int y1 = std::min(r.y + r.height, int(s.height_in_pixels));
    return {x0, y0, std::max(0, x1 - x0), std::max(0, y1 - y0)};
}

bool rootIs32BitTrueColour(xcb_connection_t* c, const xcb_screen_t& s) {
    if (s.root_depth != 24 && s.root_depth != 32)
        return false;
    for (auto f = xcb_setup_pixmap_formats_iterator(xcb_get_setup(c)); f.rem; xcb_format_next(&f)) {
        if (f.data->depth == s.root_depth)
            return f.data->bits_per_pixel == 32;
    }
    return false;
}

} // namespace

X11ScreenGrabber::X11ScreenGrabber(X11Connection& x, GrabRegion region, int outWidth, int outHeight,
                                   bool showCursor)
    : m_x(x)
    , m_region(clip(region, x.screen()))
    , m_showCursor(showCursor) {
    if (m_region.width <= 0 || m_region.height <= 0 || outWidth <= 0 || outHeight <= 0)
        throw std::runtime_error("The display to record lies outside the screen.");
    if (!rootIs32BitTrueColour(x.get(), x.screen()))
        throw std::runtime_error("The screen's colour format cannot be recorded (it needs "
                                 "24-bit colour).");
    if (m_showCursor) {
        auto v = reply(xcb_xfixes_query_version_reply(
            x.get(), xcb_xfixes_query_version(x.get(), 4, 0), nullptr));
        m_haveXFixes = v != nullptr;
    }
    if (!attachSharedMemory())
        m_plain = std::make_unique<uint8_t[]>(size_t(m_region.width) * m_region.height * 4);

    m_converter = std::make_unique<ScreenConverter>(m_region.width, m_region.height,
                                                    AV_PIX_FMT_BGR0, outWidth, outHeight);
}

X11ScreenGrabber::~X11ScreenGrabber() {
    detachSharedMemory();
}

bool X11ScreenGrabber::attachSharedMemory() {
    xcb_connection_t* c = m_x.get();
    const xcb_query_extension_reply_t* ext = xcb_get_extension_data(c, &xcb_shm_id);
    if (!ext || !ext->present)
        return false;
    size_t size = size_t(m_region.width) * m_region.height * 4;
    m_shmId = shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
    if (m_shmId < 0)
        return false;
    void* addr = shmat(m_shmId, nullptr, 0);
    if (addr == reinterpret_cast<void*>(-1)) {
        shmctl(m_shmId, IPC_RMID, nullptr);
        m_shmId = -1;
        return false;
    }
    m_shmAddr = static_cast<uint8_t*>(addr);
    m_shmSeg = xcb_generate_id(c);
    xcb_generic_error_t* error =
        xcb_request_check(c, xcb_shm_attach_checked(c, m_shmSeg, uint32_t(m_shmId), 0));
    // Marked for removal at once: the kernel frees it when both sides detach, even after a
    // crash.
    shmctl(m_shmId, IPC_RMID, nullptr);
    if (error) {
        std::free(error);
        m_shmSeg = 0;
        detachSharedMemory();
        return false;
    }
    return true;
}

void X11ScreenGrabber::detachSharedMemory() {
    if (m_shmSeg && !m_x.broken())
        xcb_shm_detach(m_x.get(), m_shmSeg);
    m_shmSeg = 0;
    if (m_shmAddr)
        shmdt(m_shmAddr);
    m_shmAddr = nullptr;
}

uint8_t* X11ScreenGrabber::readPixels() {
    if (!m_shmSeg)
        return readPixelsPlain();
    xcb_connection_t* c = m_x.get();
    auto r = reply(xcb_shm_get_image_reply(
        c,
        xcb_shm_get_image(c, m_x.root(), int16_t(m_region.x), int16_t(m_region.y),
                          uint16_t(m_region.width), uint16_t(m_region.height), ~0u,
                          XCB_IMAGE_FORMAT_Z_PIXMAP, m_shmSeg, 0),
        nullptr));
    m_x.checkAlive();
    if (!r)
        throw std::runtime_error("The screen could not be read.");
    return m_shmAddr;
}

uint8_t* X11ScreenGrabber::readPixelsPlain() {
    xcb_connection_t* c = m_x.get();
    auto r = reply(
        xcb_get_image_reply(c,
                            xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, m_x.root(),
                                          int16_t(m_region.x), int16_t(m_region.y),
                                          uint16_t(m_region.width), uint16_t(m_region.height), ~0u),
                            nullptr));
    m_x.checkAlive();
    size_t size = size_t(m_region.width) * m_region.height * 4;
    if (!r || size_t(xcb_get_image_data_length(r.get())) < size)
        throw std::runtime_error("The screen could not be read.");
    std::memcpy(m_plain.get(), xcb_get_image_data(r.get()), size);
    return m_plain.get();
}

void X11ScreenGrabber::blendCursor(uint8_t* pixels) {
    xcb_connection_t* c = m_x.get();
    auto cur = reply(xcb_xfixes_get_cursor_image_reply(c, xcb_xfixes_get_cursor_image(c), nullptr));
    if (!cur)
        return;
    const uint32_t* image = xcb_xfixes_get_cursor_image_cursor_image(cur.get());
    const int left = cur->x - cur->xhot - m_region.x, top = cur->y - cur->yhot - m_region.y;
    for (int cy = std::max(0, -top); cy < cur->height && top + cy < m_region.height; ++cy) {
        uint8_t* row = pixels + (size_t(top + cy) * m_region.width) * 4;
        for (int cx = std::max(0, -left); cx < cur->width && left + cx < m_region.width; ++cx) {
            // Cursor pixels are premultiplied ARGB: dst = src + dst * (1 - alpha).
            uint32_t p = image[size_t(cy) * cur->width + cx];
            uint32_t a = p >> 24;
            if (a == 0)
                continue;
            uint8_t* d = row + size_t(left + cx) * 4;
            for (int ch = 0; ch < 3; ++ch) {
                uint32_t s = (p >> (8 * ch)) & 0xff;
                d[ch] = uint8_t(std::min<uint32_t>(255, s + d[ch] * (255 - a) / 255));
            }
        }
    }
}

media::FramePtr X11ScreenGrabber::grab() {
    uint8_t* pixels = readPixels();
    if (m_showCursor && m_haveXFixes)
        blendCursor(pixels);
    media::FramePtr frame = m_converter->convert(pixels, m_region.width * 4);
    if (!frame)
        throw std::runtime_error("Out of memory for a screen frame.");
    return frame;
}

} // namespace vantel::platform
