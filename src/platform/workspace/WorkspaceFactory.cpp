// The workspace family's factory table: the backends this build has, in the
// order a session is matched against them.

#include "platform/workspace/NullWorkspace.h"

#if HAVE_WAYLAND
#include "platform/workspace/wayland/WaylandWorkspace.h"
#endif
#if HAVE_X11
#include "platform/workspace/x11/X11Workspace.h"
#endif

namespace vantel::platform {

namespace {

template <typename Backend>
std::unique_ptr<Workspace> make(DesktopEntries& entries, QObject* parent) {
    return std::make_unique<Backend>(entries, parent);
}

std::unique_ptr<Workspace> makeNull(DesktopEntries&, QObject* parent) {
    return std::make_unique<NullWorkspace>(parent);
}

struct Entry {
    WorkspaceChoice choice; // the choice that names it
    bool (*suits)();        // whether to try it when the choice is `automatic`
    // Throws std::exception when the desktop cannot be reached.
    std::unique_ptr<Workspace> (*create)(DesktopEntries& entries, QObject* parent);
};

// On a Wayland desktop an X display, where there is one, is Xwayland's, which
// sees only the X programs: Wayland first.
const Entry kBackends[] = {
#if HAVE_WAYLAND
    {WorkspaceChoice::wayland, [] { return !WaylandWorkspace::socketPath().empty(); },
     make<WaylandWorkspace>},
#endif
#if HAVE_X11
    {WorkspaceChoice::x11, [] { return true; }, make<X11Workspace>},
#endif
    {WorkspaceChoice::null, [] { return true; }, makeNull},
};

} // namespace

// A named backend that cannot reach its desktop is an error to see, not a
// reason to fall back; a choice of a backend this build lacks is taken as
// `automatic`.
std::unique_ptr<Workspace> createWorkspace(DesktopEntries& entries, WorkspaceChoice choice,
                                           QObject* parent) {
    for (const Entry& entry : kBackends)
        if (entry.choice == choice)
            return entry.create(entries, parent);
    for (const Entry& entry : kBackends) {
        if (!entry.suits())
            continue;
        try {
            return entry.create(entries, parent);
        } catch (const std::exception&) {
        }
    }
    return std::make_unique<NullWorkspace>(parent);
}

} // namespace vantel::platform
