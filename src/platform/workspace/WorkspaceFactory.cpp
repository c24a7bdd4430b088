#include "platform/workspace/NullWorkspace.h"
#include "platform/workspace/wayland/WaylandWorkspace.h"
#include "platform/workspace/x11/X11Workspace.h"

namespace vantel::platform {

std::unique_ptr<Workspace> createWorkspace(DesktopEntries& entries, WorkspaceChoice choice,
                                           QObject* parent) {
    if (choice == WorkspaceChoice::null)
        return std::make_unique<NullWorkspace>(parent);
    // On a Wayland desktop an X display, where there is one, is Xwayland's, which sees only the
    // X programs.
    if (choice == WorkspaceChoice::wayland ||
        (choice == WorkspaceChoice::automatic && !WaylandWorkspace::socketPath().empty())) {
        try {
            return std::make_unique<WaylandWorkspace>(entries, parent);
        } catch (const std::exception&) {
            if (choice == WorkspaceChoice::wayland)
                throw;
        }
    }
    try {
        return std::make_unique<X11Workspace>(entries, parent);
    } catch (const std::exception& e) {
        if (choice == WorkspaceChoice::x11)
            throw;
        return std::make_unique<NullWorkspace>(parent);
    }
}

} // namespace vantel::platform
