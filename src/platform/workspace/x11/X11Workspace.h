#pragma once

// The workspace of an X11 desktop. Windows come from the window manager's _NET_CLIENT_LIST
// (the mapped children of the root window when no window manager runs), owners from _NET_WM_PID
// or the X-Resource extension, the active window from _NET_ACTIVE_WINDOW, monitors from RandR.
// Changes of the window list, of the active window and of the screen layout arrive as X events
// on the connection's socket, read by a QSocketNotifier on the main thread.
//
// Thread: main thread only, like every Workspace.

#include "platform/workspace/AppResolver.h"
#include "platform/workspace/Workspace.h"
#include "platform/x11/X11Connection.h"

#include <QSocketNotifier>
#include <memory>
#include <vector>

namespace vantel::platform {

class X11Workspace : public Workspace {
    Q_OBJECT
public:
    // Throws std::runtime_error when the display cannot be opened. `entries` must outlive the
    // workspace.
    explicit X11Workspace(DesktopEntries& entries, QObject* parent = nullptr);
    ~X11Workspace() override;

    QList<RunningApp> runningApplications() override;
    std::optional<int32_t> frontmostPid() override;
    QList<WindowInfo> windows() override;
    QList<Monitor> monitors() override;
    std::optional<uint32_t> mainDisplay() override;
    QList<uint32_t> displaysAt(QPoint point) override;

    // False once the X server has gone away (an Xwayland server that ended).
    bool connected() const { return !m_x.broken(); }

private:
    struct Client {
        WindowInfo info;
        WindowClass windowClass;
    };

    // The normal top-level windows of the window list; with `onScreenOnly` the viewable ones.
    std::vector<Client> clients(bool onScreenOnly);
    std::vector<xcb_window_t> clientList(bool& managed);
    std::vector<int32_t> ownersByXRes(const std::vector<xcb_window_t>& windows);
    void selectEvents();
    void readEvents(bool fromSocket);
    void handleEvent(const xcb_generic_event_t* event, bool& apps, bool& screens);

    X11Connection m_x;
    bool m_haveWm = false;
    std::unique_ptr<QSocketNotifier> m_notifier;
    QMetaObject::Connection m_aboutToBlock;
    AppResolver m_resolver;
};

} // namespace vantel::platform
