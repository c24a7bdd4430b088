#pragma once

// What the desktop tells us about running applications, their windows and the monitors: the
// facts the game detector works from. One backend per desktop (X11, Wayland) plus a null
// backend; createWorkspace() picks one at run time.
//
// Thread: a Workspace lives on the main thread; its queries and signals run there.

#include <QList>
#include <QObject>
#include <QRect>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>
#include <optional>

namespace vantel::platform {

class DesktopEntries;

// Who an application is: the facts the game rules look at.
struct AppIdentity {
    QString appId;          // Flatpak id, desktop-file id, or the executable's file name
    QString name;           // the desktop entry's Name, else the window class, else the executable
    QString bundlePath;     // the desktop entry or Flatpak app folder; empty when none
    QStringList categories; // the desktop entry's Categories
};

struct RunningApp : AppIdentity {
    int32_t pid = 0;
    QString executablePath; // /proc/PID/exe
    bool regular = false;   // owns a managed normal top-level window (in any state: minimised or
                            // on another desktop too) and is not this program
    bool terminated = false;
    bool steamGame = false; // the environment holds SteamGameId
    // Inside a Flatpak sandbox the identity above is the sandbox's application. A launcher's
    // sandbox also runs every game the launcher starts, so this is the process's identity by its
    // own window class and executable, found as if it ran outside the sandbox; absent outside.
    std::optional<AppIdentity> own;
};

struct WindowInfo {
    uint32_t window = 0;
    int32_t pid = 0;
    QRect bounds;  // root-relative, in pixels
    int layer = 0; // 0 for normal application windows
};

struct Monitor {
    uint32_t id = 0; // RandR output id: the display id everywhere in the program
    QString name;
    QRect geometry; // root-relative, in pixels
    bool primary = false;
};

class Workspace : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~Workspace() override = default;

    // Applications that own at least one managed window in any state (minimised and on other
    // desktops too), in the order of the window list.
    virtual QList<RunningApp> runningApplications() = 0;
    // The owner of the active window, if any.
    virtual std::optional<int32_t> frontmostPid() = 0;
    // Mapped normal top-level windows, on screen: what the display choice looks at.
    virtual QList<WindowInfo> windows() = 0;
    virtual QList<Monitor> monitors() = 0;
    // The primary monitor, else the first; absent without monitors.
    virtual std::optional<uint32_t> mainDisplay() = 0;
    // Up to four monitors that contain the point.
    virtual QList<uint32_t> displaysAt(QPoint point) = 0;

signals:
    // An application appeared, went away or became active.
    void applicationsChanged();
    void screensChanged();
};

// Which workspace backend to make: one by name, or `automatic`, the one the session calls for.
enum class WorkspaceChoice { automatic, x11, wayland, null };

// x11 and wayland make that backend or throw std::runtime_error when its display server cannot
// be reached; null makes the null backend. `automatic`: Wayland when WAYLAND_DISPLAY names a
// compositor socket, else X11 when a display can be opened, else null. `entries` (the desktop
// entries the applications are matched against) must outlive the workspace.
std::unique_ptr<Workspace> createWorkspace(DesktopEntries& entries,
                                           WorkspaceChoice choice = WorkspaceChoice::automatic,
                                           QObject* parent = nullptr);

} // namespace vantel::platform
