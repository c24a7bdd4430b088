#include "StatusMenu.h"

#include <algorithm>
#include <cmath>

namespace vantel {

namespace {
constexpr int kLengths[] = {10, 15, 30, 60, 120, 300};

MenuEntry item(QString text, MenuAction action, bool enabled = true, QString shortcut = {}) {
    MenuEntry entry;
    entry.text = std::move(text);
    entry.action = action;
    entry.enabled = enabled;
    entry.shortcut = std::move(shortcut);
    return entry;
}

MenuEntry saveLastEntry(int bufferSeconds, bool hasBuffer) {
    MenuEntry entry = item(QStringLiteral("Save Last"), MenuAction::none);
    entry.kind = MenuEntry::Kind::submenu;
    for (int seconds : saveLastLengths(bufferSeconds)) {
        MenuEntry length = item(lengthTitle(seconds), MenuAction::saveLast, hasBuffer);
        length.seconds = seconds;
        entry.children.push_back(std::move(length));
    }
    return entry;
}
} // namespace

QString statusLineFor(const CaptureController::State& state, bool paused) {
    switch (state.kind) {
    case CaptureController::State::Kind::recording:
        return QStringLiteral("Recording ") + QString::fromStdString(state.text);
    case CaptureController::State::Kind::error:
        return QString::fromStdString(state.text);
    case CaptureController::State::Kind::off:
        return paused ? QStringLiteral("Paused") : QStringLiteral("Off");
    case CaptureController::State::Kind::waiting:
        return QStringLiteral("Waiting for a game");
    }
    return {};
}

TrayIconKind trayIconFor(bool recording, bool paused) {
    if (recording)
        return TrayIconKind::recording;
    return paused ? TrayIconKind::paused : TrayIconKind::idle;
}

QString trayToolTip(const QString& statusLine) {
    return QStringLiteral("Vantel Record: ") + statusLine;
}

std::vector<int> saveLastLengths(int bufferSeconds) {
    std::vector<int> lengths;
    std::copy_if(std::begin(kLengths), std::end(kLengths), std::back_inserter(lengths),
                 [bufferSeconds](int seconds) { return seconds <= bufferSeconds; });
    return lengths;
}

QString lengthTitle(int seconds) {
    if (seconds < 60)
        return QString::number(seconds) + QStringLiteral(" seconds");
    const int minutes = seconds / 60;
    return QString::number(minutes) +
           (minutes == 1 && seconds == 60 ? QStringLiteral(" minute") : QStringLiteral(" minutes"));
}

QString readyLine(double bufferedSeconds, int bufferSeconds, int height, int fps) {
    const double ready = std::min(bufferedSeconds, double(bufferSeconds));
    const long long whole = std::isfinite(ready) && ready > 0 ? (long long)std::trunc(ready) : 0;
    return QStringLiteral("%1 s ready · %2p %3 fps").arg(whole).arg(height).arg(fps);
}

std::vector<MenuEntry> statusMenu(const MenuFacts& facts) {
    const bool hasBuffer = facts.buffer.has_value();
    std::vector<MenuEntry> menu;
    menu.push_back(item(facts.statusLine, MenuAction::none, false));
    if (hasBuffer)
        menu.push_back(item(readyLine(facts.buffer->bufferedSeconds, facts.bufferSeconds,
                                      facts.buffer->height, facts.fps),
                            MenuAction::none, false));
    menu.push_back(MenuEntry::separator());
    menu.push_back(
        item(QStringLiteral("Save Clip  ") + facts.hotkeyDisplay, MenuAction::saveClip, hasBuffer));
    menu.push_back(saveLastEntry(facts.bufferSeconds, hasBuffer));
    menu.push_back(
        item(facts.paused ? QStringLiteral("Resume Recording") : QStringLiteral("Pause Recording"),
             MenuAction::togglePause));
    menu.push_back(MenuEntry::separator());
    menu.push_back(
        item(QStringLiteral("Clips…"), MenuAction::openLibrary, true, QStringLiteral("Ctrl+L")));
    menu.push_back(item(QStringLiteral("Settings…"), MenuAction::openSettings, true,
                        QStringLiteral("Ctrl+,")));
    if (facts.update)
        menu.push_back(
            item(QStringLiteral("Download Update ") + facts.update->version + QStringLiteral("…"),
                 MenuAction::openUpdate));
    menu.push_back(MenuEntry::separator());
    menu.push_back(item(QStringLiteral("Quit Vantel Record"), MenuAction::quit, true,
                        QStringLiteral("Ctrl+Q")));
    return menu;
}

} // namespace vantel
