#pragma once

// The settings window, "Vantel Record Settings", 560 x 680: seven sections (Recording, Audio,
// Clipping, Games, Storage, Account, General) in a scrolling grouped form. Every control writes
// straight through to the settings store, which saves and announces the change; there is no
// apply step. Controls follow the store and the account live, the size estimate is recomputed
// on every change. The extra games and "Open at login" are read once when the window is made.
// "Upload and copy a link after every clip" is disabled while nobody is signed in; its stored
// value stays as it is.
//
// The dialogs and the file manager are reached through `Desktop`, so a test can stand in for
// the person choosing; the defaults open the real ones.
//
// Thread: main thread.

#include "AppCatalog.h"

#include <QWidget>
#include <functional>
#include <memory>

class QComboBox;
class QPushButton;
class QUrl;
class QLabel;
class QModelIndex;
class QVBoxLayout;

namespace vantel {

class Account;
class ElidedLabel;
class ExtraGamesModel;
class HotkeyField;
class ToggleSwitch;

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

        static Desktop system();
    };

    // Over the program's desktop and Account::shared().
    explicit SettingsWindow(QWidget* parent = nullptr);
    SettingsWindow(Desktop desktop, Account& account, QWidget* parent = nullptr);
    ~SettingsWindow() override;

    // The working copy of the extra games.
    ExtraGamesModel& extraGames() { return *m_games; }

    // Runs "Add an app…" and "Change…" as their buttons do.
    void addGame();
    void pickFolder();

private:
    QVBoxLayout* section(const QString& title);
    void buildRecording();
    void buildAudio();
    void buildClipping();
    void buildGames();
    void buildStorage();
    void buildAccount();
    void buildGeneral();
    void connectStore();

    void refreshRecording();
    void refreshSwitches();
    void refreshGames();
    QWidget* gameRow(const QModelIndex& index);
    void refreshEstimate();
    void refreshAccount();
    QWidget* signedOutForm();
    QWidget* signedInForm(const QString& name);

    Desktop m_desktop;
    Account& m_account;
    AppCatalog m_catalog;
    std::unique_ptr<ExtraGamesModel> m_games;
    QVBoxLayout* m_page = nullptr;

    QComboBox* m_mode = nullptr;
    QComboBox* m_replayLength = nullptr;
    QComboBox* m_resolution = nullptr;
    QComboBox* m_frameRate = nullptr;
    QComboBox* m_quality = nullptr;
    QComboBox* m_format = nullptr;
    QLabel* m_estimate = nullptr;
    ToggleSwitch* m_recordMic = nullptr;
    HotkeyField* m_hotkey = nullptr;
    ToggleSwitch* m_playSound = nullptr;
    ToggleSwitch* m_showCursor = nullptr;
    ToggleSwitch* m_autoShare = nullptr;
    QWidget* m_gameRows = nullptr;
    ElidedLabel* m_folder = nullptr;
    ToggleSwitch* m_openAtLogin = nullptr;
    QVBoxLayout* m_accountRows = nullptr;
};

} // namespace vantel
