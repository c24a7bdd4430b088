#include "platform/NullCapture.h"

#include "platform/x11/X11CaptureBackend.h"

#include <cstdlib>
#include <string>

namespace vantel::platform {

namespace {

std::string env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

bool waylandWithoutX() {
    return env("DISPLAY").empty() &&
           (!env("WAYLAND_DISPLAY").empty() || env("XDG_SESSION_TYPE") == "wayland");
}

} // namespace

std::unique_ptr<CaptureBackend> createCaptureBackend() {
    const std::string forced = env("VANTEL_CAPTURE");
    if (forced == "null")
        return std::make_unique<NullCaptureBackend>();
    if (waylandWithoutX())
        return std::make_unique<WaylandCaptureBackend>();
    if (forced == "x11" || !env("DISPLAY").empty())
        return std::make_unique<X11CaptureBackend>();
    return std::make_unique<NullCaptureBackend>();
}

} // namespace vantel::platform
