#pragma once

// What the tray shows, decided without any widget: the status line of a capture state and the
// tray menu's entries, texts and enabled states for the facts of the moment. The tray icon turns
// the entries into a QMenu each time the menu opens.

#include "AppState.h"
#include "engine/CaptureController.h"

#include <QString>
#include <optional>
#include <vector>

namespace vantel {

// The status line for a capture state: "Recording " + the target's name, the error's message,
// "Paused" or "Off", "Waiting for a game".
QString statusLineFor(const CaptureController::State& state, bool paused);

// Which icon the tray shows.
enum class TrayIconKind { recording, paused, idle };
TrayIconKind trayIconFor(bool recording, bool paused);

// "Vantel Record: " + the status line.
QString trayToolTip(const QString& statusLine);

// The lengths "Save Last" offers for a buffer length: those of 10, 15, 30, 60, 120 and 300
// seconds not longer than the buffer.
std::vector<int> saveLastLengths(int bufferSeconds);
// "10 seconds", "1 minute", "2 minutes".
QString lengthTitle(int seconds);

// "30 s ready · 1440p 60 fps": the smaller of what is buffered and the buffer length, truncated.
QString readyLine(double bufferedSeconds, int bufferSeconds, int height, int fps);

enum class MenuAction {
    none,
    saveClip, // the whole buffer length
    saveLast, // the entry's seconds
    togglePause,
    openLibrary,
    openSettings,
    openUpdate,
    quit
};

struct MenuEntry {
    enum class Kind { item, separator, submenu };
    Kind kind = Kind::item;
    QString text;
    bool enabled = true;
    MenuAction action = MenuAction::none;
    int seconds = 0;  // for saveLast
    QString shortcut; // a QKeySequence text, "Ctrl+Q"; empty: none
    std::vector<MenuEntry> children;

    static MenuEntry separator() {
        return {Kind::separator, {}, true, MenuAction::none, 0, {}, {}};
    }
};

struct BufferFacts {
    double bufferedSeconds = 0.0;
    int height = 0;
};

// Everything the menu depends on, read just before it opens.
struct MenuFacts {
    QString statusLine;
    std::optional<BufferFacts> buffer; // present while a replay buffer exists
    int bufferSeconds = 30;
    int fps = 60;
    QString hotkeyDisplay;
    bool paused = false;
    std::optional<AppUpdate> update;
};

std::vector<MenuEntry> statusMenu(const MenuFacts& facts);

} // namespace vantel
