#include "platform/capture/x11/X11CaptureBackend.h"

#include "platform/capture/x11/X11CaptureStream.h"
#include "platform/x11/X11Connection.h"

#include <cstdlib>
#include <stdexcept>

namespace vantel::platform {

bool X11CaptureBackend::hasPermission() {
    try {
        X11Connection x;
        xcb_connection_t* c = x.get();
        auto* r = xcb_get_image_reply(
            c, xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, x.root(), 0, 0, 1, 1, ~0u), nullptr);
        bool ok = r != nullptr;
        std::free(r);
        return ok;
    } catch (const std::exception&) {
        return false;
    }
}

std::vector<CaptureDisplay> X11CaptureBackend::displays() {
    X11Connection x;
    std::vector<CaptureDisplay> list;
    for (const X11Monitor& m : x.monitors())
        list.push_back(CaptureDisplay{m.id, m.x, m.y, m.width, m.height, 1.0});
    return list;
}

std::optional<uint32_t> X11CaptureBackend::mainDisplay() {
    try {
        X11Connection x;
        std::vector<X11Monitor> list = x.monitors();
        for (const X11Monitor& m : list)
            if (m.primary)
                return m.id;
        if (!list.empty())
            return list.front().id;
    } catch (const std::exception&) {
    }
    return std::nullopt;
}

std::unique_ptr<CaptureStream> X11CaptureBackend::createStream(const StreamConfig& config,
                                                               SampleHandler& handler) {
    return std::make_unique<X11CaptureStream>(config, handler);
}

} // namespace vantel::platform
