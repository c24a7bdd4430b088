#include "platform/capture/NullCaptureBackend.h"
#include "platform/capture/wayland/WaylandCaptureBackend.h"
#include "platform/capture/x11/X11CaptureBackend.h"

#include <cstdlib>
#include <string>

namespace vantel::platform {

namespace {

std::string env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

bool waylandSession() {
    return !env("WAYLAND_DISPLAY").empty() || env("XDG_SESSION_TYPE") == "wayland";
}

} // namespace

std::unique_ptr<CaptureBackend> createCaptureBackend(CaptureChoice choice) {
    if (choice == CaptureChoice::null)
        return std::make_unique<NullCaptureBackend>();
    if (choice == CaptureChoice::x11)
        return std::make_unique<X11CaptureBackend>();
    if (choice == CaptureChoice::wayland || waylandSession())
        return std::make_unique<WaylandCaptureBackend>();
    if (!env("DISPLAY").empty())
        return std::make_unique<X11CaptureBackend>();
    return std::make_unique<NullCaptureBackend>();
}

} // namespace vantel::platform
