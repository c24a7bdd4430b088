#pragma once

// The tray program's controller: starts everything at launch, decides when capture must be
// brought in line with the pause switch, the settings and the game detector, turns capture
// states into the status line and the tray icon, runs the save-clip flow, checks for a newer
// version, hands the program's URLs on, and opens the windows.
//
// Decisions live here and in StatusMenu; the tray icon and the windows only show them. The
// desktop (toasts, sound, global shortcut, permission) comes in through ControllerDesktop, so the
// decisions are tested without a display.
//
// A save ends when its clip is in the library. With automatic sharing the clip then joins the
// upload queue (UploadQueue), which runs beside later saves; quitting stops the uploads instead
// of waiting for them.
//
// Threads: main thread only. Capture operations run in coroutines on the main thread, so they
// never overlap a menu action; the save itself and the update check run off it and come back
// before they touch the state. m_saving is read and written on the main thread only.

#include "AppState.h"
#include "ControllerDesktop.h"
#include "StatusMenu.h"
#include "UploadQueue.h"
#include "WindowManager.h"
#include "engine/CaptureController.h"
#include "library/Clip.h"

#include <QCoro/QCoroTask>
#include <QNetworkAccessManager>
#include <QObject>
#include <QTimer>
#include <QUrl>
#include <functional>
#include <memory>
#include <optional>

namespace vantel {

class GameDetector;
class Settings;
class TrayIcon;

// How a save request ended, for whoever asked (the command line prints it).
struct SaveResult {
    enum class Kind { saved, dropped, notRecording, failed };
    Kind kind = Kind::failed;
    Clip clip;            // saved
    QString detail;       // notRecording: the status line; failed: the error's text
    bool sharing = false; // saved, and queued for the automatic upload
};

class AppController : public QObject {
    Q_OBJECT
public:
    using Saver = std::function<QCoro::Task<Clip>(double seconds)>;
    using UrlHandler = std::function<void(const QString& url)>;
    // Automatic sharing: whether a clip saved now is uploaded, and the upload (UploadQueue).
    struct AutoShare {
        std::function<bool()> wanted;
        UploadQueue::Upload upload;
    };

    // What the controller works with; each must outlive it.
    struct Services {
        Settings& settings;
        CaptureController& capture;
        GameDetector* detector = nullptr; // null: no game following (tests)
        AppState& state;
        ControllerDesktop& shell;
        WindowManager::Factory windowFactory;
        Saver saver; // Clips::saveFromBuffer over the program's capture and library
        QString version;
        // Fired by quit(): stops every upload of the program (also those of the clips window
        // and the command line, which the program hands the same object). None: the
        // controller's own.
        std::shared_ptr<Cancellation> uploads = {};
    };

    explicit AppController(Services services, QObject* parent = nullptr);
    ~AppController() override;

    // The launch sequence: tray icon (unless `withTray` is false), callbacks, notifications,
    // shortcut, then recording or the welcome window, then the update check now and every 6 h.
    void launch(bool withTray = true);

    // Brings capture in line with the permission and the pause switch.
    void sync();
    QCoro::Task<> syncTask();
    // The save-clip flow; no length: the buffer length.
    QCoro::Task<SaveResult> saveClip(std::optional<double> seconds = std::nullopt);
    void togglePause();
    // Stops the uploads (they do not hold the quit up), waits for a running save, stops capture
    // (its run folder is deleted), then emits quitting(), on which the program ends its event
    // loop. Further calls do nothing.
    QCoro::Task<> quit();
    void openLibrary();
    void openSettings();
    void openWelcome();
    void closeWindow(const QString& id);
    // After the machine woke: restart capture (see wake()).
    void wake();
    // A URL handed to the program, as the desktop gave it; only scheme "vantelrecord" is passed
    // on, unchanged (parsed, its host would come out lower-cased, hiding a link we never made).
    void openUrl(const QString& url);
    void setUrlHandler(UrlHandler handler) { m_urlHandler = std::move(handler); }
    // After "Clip saved", when `share.wanted()` holds, the clip is queued for upload; the save
    // ends there and the queue tells the outcome.
    void setAutoShare(AutoShare share);
    // The welcome window's "Start": stored "onboarded" already; close it, sync, say so.
    void welcomeFinished();

    // Starts an update check; updateChecked() follows when it ends, whatever the outcome.
    void checkForUpdate();
    void setVersionFile(const QUrl& url) { m_versionFile = url; }

    // The menu as it would be built now.
    std::vector<MenuEntry> menuEntries() const;
    // The status line, the "… s ready …" line while a buffer exists, and the shortcut problem
    // while the shortcut is not held.
    QStringList statusLines() const;
    // While the shortcut is not held: "<shortcut> is used by another program" when it could not
    // be registered, "<shortcut> was not allowed by the desktop" when the desktop refused it
    // later (the user cancelled the Wayland desktop's dialog).
    QString hotkeyProblem() const { return m_hotkeyProblem; }

    WindowManager& windows() { return m_windows; }
    TrayIcon* tray() const { return m_tray.get(); }
    bool saving() const { return m_saving; }
    const UploadQueue& uploads() const { return m_uploads; }

signals:
    // quit() finished stopping; nothing records any more.
    void quitting();
    void updateChecked();

private:
    void show(const CaptureController::State& state);
    void refreshIcon();
    void bindHotkey();
    void reportHotkeyProblem(const QString& problem);
    void runMenuAction(MenuAction action, int seconds);
    void openUpdate();
    QCoro::Task<> restartAfterSettings();
    QCoro::Task<> restartAfterWake();
    void showSaved(const Clip& clip);

    Services m_services;
    WindowManager m_windows;
    std::unique_ptr<TrayIcon> m_tray;
    std::unique_ptr<HotkeyBinding> m_hotkey;
    QString m_hotkeyProblem;
    bool m_saving = false;
    bool m_quitting = false;
    QNetworkAccessManager m_network;
    QUrl m_versionFile;
    QTimer m_updateTimer;
    UrlHandler m_urlHandler;
    std::function<bool()> m_shareWanted;
    UploadQueue m_uploads;
};

} // namespace vantel
