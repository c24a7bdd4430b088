#pragma once

// The settings window, "Vantel Record Settings", 560 x 680: seven sections (Recording, Audio,
// Clipping, Games, Storage, Account, General) in a scrolling grouped form. Every control writes
// straight through to the settings store, which saves and announces the change; there is no
// apply step. Controls follow the store and the account live, the size estimate is recomputed
// on every change. The extra games and "Open at login" are read once when the window is made.
// "Upload and copy a link after every clip" is disabled while nobody is signed in; its stored
// value stays as it is.
//
// The store, the account and the installed applications come in as `Services`; the dialogs
// and the file manager through `Desktop`, so a test can stand in for the person choosing.
//
// Thread: main thread.

#include "AppCatalog.h"

#include <QWidget>
#include <functional>
#include <memory>

class QComboBox;
class QLabel;
class QModelIndex;
class QUrl;
class QVBoxLayout;

namespace vantel {

class Account;
class ElidedLabel;
class ExtraGamesModel;
class HotkeyField;
class Library;
class Settings;
class ToggleSwitch;

namespace platform {
class DesktopEntries;
}

class SettingsWindow : public QWidget {
    Q_OBJECT
public:
    struct Desktop {
        // A folder for clips, starting at `current`; empty when cancelled.
        std::function<QString(QWidget* parent, const QString& current)> chooseFolder;
        // An installed application's id; empty when cancelled.
        std::function<QString(QWidget* parent, AppCatalog& catalog)> chooseApp;
        // Shows the folder in the file manager.
        std::function<void(const QString& folder)> openFolder;
        // Rescans the clip folder after it changed.
        std::function<void()> reloadLibrary;
        // Opens a web page in the browser.
        std::function<void(const QUrl& url)> openUrl;

        // The real dialogs and file manager; a changed folder reloads `library`.
        static Desktop system(Library& library);
    };

    // What the window works on; each must outlive it.
    struct Services {
        Settings& settings;
        Account& account;
        platform::DesktopEntries& entries;
    };

    SettingsWindow(const Services& services, Desktop desktop, QWidget* parent = nullptr);
    ~SettingsWindow() override;

    // The working copy of the extra games.
    ExtraGamesModel& extraGames() { return *m_games; }

    // Runs "Add an app…" and "Change…" as their buttons do.
    void addGame();
    void pickFolder();

private:
    void buildRecording();
    void buildAudio();
    void buildClipping();
    void buildGames();
    void buildStorage();
    void buildAccount();
    void buildGeneral();

    void refreshEstimate();
    void refreshGames();
    QWidget* gameRow(const QModelIndex& index);

    Settings& m_settings;
    Account& m_account;
    Desktop m_desktop;
    AppCatalog m_catalog;
    std::unique_ptr<ExtraGamesModel> m_games;
    QVBoxLayout* m_page = nullptr;

    QLabel* m_estimate = nullptr;
    ToggleSwitch* m_autoShare = nullptr;
    QWidget* m_gameRows = nullptr;
    ToggleSwitch* m_openAtLogin = nullptr;
};

} // namespace vantel
