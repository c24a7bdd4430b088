#pragma once

// What the settings window tests share: installed test applications, one settings store,
// the window's services and synthetic key presses with the scan codes an X server gives.

#include "ui/SettingsWindow.h"

#include <QString>
#include <Qt>
#include <cstdint>

class QWidget;

namespace vantel {
class Notifications;
}

namespace vantel::test {

// The store every window of the tests shows: on AppPaths::configFile(), announcing on
// notifications(). Made on first use, kept for the whole run.
Settings& store();
Notifications& notifications();

// The window's services: store(), `account` and the installed applications.
SettingsWindow::Services services(Account& account);
// The real dialogs and file manager (tests replace the ones they use).
SettingsWindow::Desktop systemDesktop();

// Before main, the only installed applications become desktop entries in
// $XDG_DATA_HOME/applications (XDG_DATA_DIRS points at an empty folder): "org.example.SkyRacer"
// (Sky Racer), "net.example.Dungeon" (Dungeon Depths), "org.example.Notes" (Notes),
// "org.example.Tool" (NoDisplay), and a few more, with icons where a system icon exists.

// Sends a key press of the key at `evdevCode` with `modifiers` to `target`, as an X11 key event
// arrives (native scan code = evdev code + 8).
void pressKey(QWidget* target, int qtKey, std::uint32_t evdevCode,
              Qt::KeyboardModifiers modifiers = Qt::NoModifier, const QString& text = {});

} // namespace vantel::test
