#pragma once

// The first-run window (id "welcome", "Vantel Record", 520 x 470, fixed size): what the program
// does in three steps, whether it may record the screen, the choice to open it at login, and
// the hand-over to normal operation.
//
// "Start" (or "Later" while recording is not allowed) stores "onboarded", writes the autostart
// entry when the login box is ticked (a failure is ignored) and emits started(); the owner then
// closes the window, brings recording in line and, when granted() is true, shows the toast
// "Vantel Record is on". "I turned it on" stores "onboarded", writes the autostart entry when
// ticked, starts a detached shell that opens the program again once this process has ended (at
// least one second later), and emits relaunching(); the owner must then end the program (when
// nothing is connected, the window quits the application itself). Closing the window does none
// of this.
//
// The permission is read again every second while the window lives, and so is whether the
// desktop gives programs global shortcuts at all: where it does not (a Wayland desktop without
// the global shortcuts portal), the second step says how to bind `vantel-record save` in the
// desktop's own keyboard settings.
//
// Thread: main thread only.

#include <QCoro/QCoroTask>
#include <QStringList>
#include <QTimer>
#include <QWidget>
#include <functional>

class QCheckBox;
class QLabel;
class QPushButton;
class QStackedWidget;

namespace vantel {

class Settings;

class WelcomeWindow : public QWidget {
    Q_OBJECT
public:
    // What the window works with; the settings must outlive it.
    struct Services {
        Settings& settings; // the buffer length and shortcut of the texts; "onboarded"
        // Whether the screen may be recorded (the capture controller's check in the program).
        std::function<bool()> permission;
        // See setPermissionRequest(); none: "Allow Screen Recording" only looks again.
        std::function<QCoro::Task<bool>()> requestPermission = {};
    };

    explicit WelcomeWindow(Services services, QWidget* parent = nullptr);

    // What "Allow Screen Recording" runs: asks the user where the desktop has a dialog for it
    // and resolves with the permission afterwards. In the program the capture controller's
    // request (the screen-cast portal on Wayland).
    void setPermissionRequest(std::function<QCoro::Task<bool>()> request) {
        m_request = std::move(request);
    }

    bool granted() const { return m_granted; }

    // Where "the desktop gives no global shortcuts" comes from; by default the shortcut
    // service's answer (GlobalHotkey::desktopBindingNeeded).
    void setBindingNeededSource(std::function<bool()> source);

    // How to bind the save command to `shortcut` by hand on the desktop named by
    // XDG_CURRENT_DESKTOP (GNOME, KDE Plasma and sway have their own steps).
    static QString bindingSteps(const QString& desktop, const QString& shortcut);
    bool openAtLogin() const;
    void setOpenAtLogin(bool on);

    // The detached command that starts `program` again after `pid` has ended and at least one
    // second has passed: "/bin/sh" and these arguments.
    static QStringList relaunchArguments(qint64 pid, const QString& program);

    static constexpr int kWidth = 520;
    static constexpr int kHeight = 470;

signals:
    void started();
    void relaunching();

private:
    QWidget* header();
    QWidget* steps();
    QWidget* permissionArea();
    void recheck();
    void showBindingHint();
    QCoro::Task<> askPermission();
    void showPermission();
    void finish();
    void relaunch();
    void storeOnboarded();

    Settings& m_settings;
    std::function<bool()> m_permission;
    std::function<bool()> m_bindingNeeded;
    QLabel* m_bindingHint = nullptr;
    std::function<QCoro::Task<bool>()> m_request;
    bool m_granted = false;
    QTimer m_timer;
    QStackedWidget* m_permissionPages = nullptr;
    QCheckBox* m_login = nullptr;
    QPushButton* m_start = nullptr;
    QPushButton* m_allow = nullptr;
};

} // namespace vantel
