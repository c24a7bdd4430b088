// The capture family's factory table: the backends this build has, in the order
// a session is matched against them.

#include "platform/capture/NullCaptureBackend.h"

#if HAVE_WAYLAND
#include "platform/capture/wayland/WaylandCaptureBackend.h"
#endif
#if HAVE_X11
#include "platform/capture/x11/X11CaptureBackend.h"
#endif

#include <cstdlib>
#include <string>

namespace vantel::platform {

namespace {

std::string env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

[[maybe_unused]] bool waylandSession() {
    return !env("WAYLAND_DISPLAY").empty() || env("XDG_SESSION_TYPE") == "wayland";
}

[[maybe_unused]] bool xDisplay() {
    return !env("DISPLAY").empty();
}

template <typename Backend> std::unique_ptr<CaptureBackend> make() {
    return std::make_unique<Backend>();
}

struct Entry {
    CaptureChoice choice; // the choice that names it
    bool (*suits)();      // whether the session is of the backend's kind
    std::unique_ptr<CaptureBackend> (*create)();
};

// Wayland first: a Wayland session's X display is Xwayland's, whose root window
// shows only X clients.
const Entry kBackends[] = {
#if HAVE_WAYLAND
    {CaptureChoice::wayland, waylandSession, make<WaylandCaptureBackend>},
#endif
#if HAVE_X11
    {CaptureChoice::x11, xDisplay, make<X11CaptureBackend>},
#endif
    {CaptureChoice::null, [] { return true; }, make<NullCaptureBackend>},
};

} // namespace

// A choice of a backend this build lacks is taken as `automatic`.
std::unique_ptr<CaptureBackend> createCaptureBackend(CaptureChoice choice) {
    for (const Entry& entry : kBackends)
        if (entry.choice == choice)
            return entry.create();
    for (const Entry& entry : kBackends)
        if (entry.suits())
            return entry.create();
    return std::make_unique<NullCaptureBackend>();
}

} // namespace vantel::platform
