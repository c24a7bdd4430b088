#include "platform/NullWorkspace.h"

#include "platform/wayland/WaylandWorkspace.h"
#include "platform/x11/X11Workspace.h"

#include <QByteArray>

namespace vantel::platform {

std::unique_ptr<Workspace> createWorkspace(QObject* parent) {
    const QByteArray forced = qgetenv("VANTEL_WORKSPACE");
    if (forced == "null")
        return std::make_unique<NullWorkspace>(parent);
    // On a Wayland desktop an X display, where there is one, is Xwayland's, which sees only the
    // X programs.
    if (forced == "wayland" || (forced.isEmpty() && !WaylandWorkspace::socketPath().empty())) {
        try {
            return std::make_unique<WaylandWorkspace>(parent);
        } catch (const std::exception&) {
            if (forced == "wayland")
                throw;
        }
    }
    try {
        return std::make_unique<X11Workspace>(parent);
    } catch (const std::exception& e) {
        if (forced == "x11")
            throw;
        return std::make_unique<NullWorkspace>(parent);
    }
}

} // namespace vantel::platform
