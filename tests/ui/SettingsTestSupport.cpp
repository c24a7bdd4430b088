#include "SettingsTestSupport.h"

#include "common/TestEnv.h"
#include "library/Library.h"
#include "platform/freedesktop/DesktopEntries.h"
#include "settings/AppPaths.h"
#include "settings/Notifications.h"
#include "settings/Settings.h"
#include "sharing/Keychain.h"

#include <QApplication>
#include <QFileInfo>
#include <QKeyEvent>
#include <QWidget>
#include <cstdlib>
#include <string>

namespace vantel::test {

namespace {

std::string entry(const std::string& name, const std::string& icon, const std::string& extra) {
    std::string text = "[Desktop Entry]\nType=Application\nName=" + name + "\nExec=/usr/bin/" +
                       name.substr(0, name.find(' ')) + "\n";
    if (!icon.empty())
        text += "Icon=" + icon + "\n";
    return text + extra;
}

std::string systemIcon(const char* path) {
    return QFileInfo::exists(QLatin1String(path)) ? path : "";
}

void installTestApplications() {
    setenv("XDG_DATA_DIRS", (testHome() / "system-data").c_str(), 1);
    // The sign-in token in a file of the private home, never the session's keyring.
    Keychain::force(Keychain::Backend::file);
    const auto apps = testHome() / "data" / "applications";
    const std::string games =
        systemIcon("/usr/share/icons/Adwaita/48x48/legacy/applications-games.png");
    writeFile(apps / "org.example.SkyRacer.desktop",
              entry("Sky Racer", games, "Categories=Game;ArcadeGame;\n"));
    writeFile(apps / "net.example.Dungeon.desktop",
              entry("Dungeon Depths", "", "Categories=Game;\n"));
    writeFile(apps / "org.example.Notes.desktop",
              entry("Notes", systemIcon("/usr/share/icons/hicolor/48x48/apps/gvim.png"), ""));
    writeFile(apps / "org.example.Tool.desktop", entry("Hidden Tool", "", "NoDisplay=true\n"));
    writeFile(apps / "com.example.Chess.desktop", entry("chess Club", "", "Categories=Game;\n"));
    writeFile(apps / "org.example.Emulator.desktop",
              entry("Retro Emulator",
                    systemIcon("/usr/share/icons/hicolor/48x48/apps/openjdk-17.png"),
                    "Categories=Game;Emulator;\n"));
    writeFile(apps / "org.example.Viewer.desktop",
              entry("Image Viewer",
                    systemIcon("/usr/share/icons/hicolor/48x48/apps/display-im6.q16.png"), ""));
}

// Before main: the desktop-entry index reads its folders on first use.
const bool installed = (installTestApplications(), true);

} // namespace

Notifications& notifications() {
    static Notifications centre;
    return centre;
}

Settings& store() {
    static Settings settings(AppPaths::configFile(), notifications());
    return settings;
}

SettingsWindow::Services services(Account& account) {
    return {store(), account, platform::DesktopEntries::shared()};
}

SettingsWindow::Desktop systemDesktop() {
    static Library library({[] { return store().folder(); }, AppPaths::appSupport()});
    return SettingsWindow::Desktop::system(library);
}

void pressKey(QWidget* target, int qtKey, std::uint32_t evdevCode, Qt::KeyboardModifiers modifiers,
              const QString& text) {
    QKeyEvent press(QEvent::KeyPress, qtKey, modifiers, evdevCode + 8, 0, 0, text);
    QApplication::sendEvent(target, &press);
}

} // namespace vantel::test
