#pragma once

// The workspace of a Wayland desktop. Wayland gives no program a list of the other programs'
// windows, their places or the focus, so the running applications come from process facts: the
// processes connected to the compositor's socket (a program with windows has to be), described
// like any other (desktop entry, Flatpak sandbox, Steam's SteamGameId, install path). Programs
// that run through Xwayland, as most games do, are also seen through X11 while an Xwayland
// server runs: their window class names them more precisely, and an active X window tells the
// frontmost program. Native Wayland programs come first in the list, in process id order (near
// enough the order they started), then the X programs in the window list's order, so that with
// no active X window (the focus is on a native window) a native game is preferred.
//
// Monitors and window places are not told: what is recorded is the display the screen-cast
// portal gave, and the game cannot be followed to another monitor.
//
// Changes: the compositor's connections are compared every two seconds (one socket
// diagnostics query) and X window list changes arrive as X events; either emits
// applicationsChanged().
//
// Thread: main thread only, like every Workspace.

#include "platform/workspace/AppResolver.h"
#include "platform/workspace/Workspace.h"

#include <QTimer>
#include <chrono>
#include <filesystem>
#include <memory>
#include <set>
#include <vector>

namespace vantel::platform {


class WaylandWorkspace : public Workspace {
    Q_OBJECT
public:
    struct Options {
        std::filesystem::path socket;         // the compositor's socket; see socketPath()
        bool useXwayland = true;              // look at X11 while an Xwayland server runs
        std::chrono::milliseconds poll{2000}; // how often connections are compared
        std::filesystem::path procRoot = "/proc";
    };

    // Throws std::runtime_error when the compositor's socket is not there. `entries` must
    // outlive the workspace.
    WaylandWorkspace(DesktopEntries& entries, Options options, QObject* parent = nullptr);
    explicit WaylandWorkspace(DesktopEntries& entries, QObject* parent = nullptr);
    ~WaylandWorkspace() override;

    QList<RunningApp> runningApplications() override;
    std::optional<int32_t> frontmostPid() override;
    QList<WindowInfo> windows() override { return {}; }
    QList<Monitor> monitors() override { return {}; }
    std::optional<uint32_t> mainDisplay() override { return std::nullopt; }
    QList<uint32_t> displaysAt(QPoint) override { return {}; }

    // The compositor's socket named by WAYLAND_DISPLAY (a name in XDG_RUNTIME_DIR, or a path);
    // empty when there is none.
    static std::filesystem::path socketPath();

    // Whether the X programs are being looked at (an Xwayland server runs and answered).
    bool seesXwayland() const { return m_x != nullptr; }

private:
    void poll();
    void followXwayland();
    bool xwaylandRuns() const;

    Options m_options;
    AppResolver m_resolver;
    std::unique_ptr<Workspace> m_x; // an X11Workspace; never set in a build without X11
    std::set<uint64_t> m_connections;     // client ends connected to the compositor now
    std::set<uint64_t> m_heldConnections; // the connections m_holders was found for
    std::vector<int32_t> m_holders;       // the processes holding them
    QTimer m_poll;
};

} // namespace vantel::platform
