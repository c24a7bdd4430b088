// The tray's texts and menu for each state, without widgets.

#include "app/StatusMenu.h"

#include <gtest/gtest.h>

namespace vantel {
namespace {

using State = CaptureController::State;

struct Line {
    QString text;
    bool enabled;
    MenuAction action;
    bool operator==(const Line&) const = default;
};

std::vector<Line> lines(const std::vector<MenuEntry>& menu) {
    std::vector<Line> out;
    for (const MenuEntry& e : menu)
        out.push_back({e.kind == MenuEntry::Kind::separator ? "---" : e.text, e.enabled, e.action});
    return out;
}

const MenuEntry& entry(const std::vector<MenuEntry>& menu, const QString& text) {
    for (const MenuEntry& e : menu)
        if (e.text == text)
            return e;
    throw std::runtime_error("no entry " + text.toStdString());
}

std::vector<QString> titles(const std::vector<MenuEntry>& entries) {
    std::vector<QString> out;
    for (const MenuEntry& e : entries)
        out.push_back(e.text);
    return out;
}

TEST(StatusMenu, StatusLinesIconsAndToolTipFollowTheCaptureState) {
    EXPECT_EQ(statusLineFor(State::recording("Desktop"), false), "Recording Desktop");
    EXPECT_EQ(statusLineFor(State::recording("Minecraft"), true), "Recording Minecraft");
    EXPECT_EQ(statusLineFor(State::error("No display to record."), false), "No display to record.");
    EXPECT_EQ(statusLineFor(State::off(), true), "Paused");
    EXPECT_EQ(statusLineFor(State::off(), false), "Off");
    EXPECT_EQ(statusLineFor(State::waiting(), false), "Waiting for a game");

    EXPECT_EQ(trayIconFor(true, true), TrayIconKind::recording);
    EXPECT_EQ(trayIconFor(false, true), TrayIconKind::paused);
    EXPECT_EQ(trayIconFor(false, false), TrayIconKind::idle);
    EXPECT_EQ(trayToolTip("Paused"), "Vantel Record: Paused");
}

TEST(StatusMenu, SaveLastOffersTheLengthsThatFitTheBuffer) {
    EXPECT_EQ(saveLastLengths(15), (std::vector<int>{10, 15}));
    EXPECT_EQ(saveLastLengths(300), (std::vector<int>{10, 15, 30, 60, 120, 300}));
    EXPECT_EQ(saveLastLengths(59), (std::vector<int>{10, 15, 30}));
    EXPECT_EQ(saveLastLengths(5), std::vector<int>{});
    EXPECT_EQ(lengthTitle(10), "10 seconds");
    EXPECT_EQ(lengthTitle(60), "1 minute");
    EXPECT_EQ(lengthTitle(120), "2 minutes");
    EXPECT_EQ(lengthTitle(300), "5 minutes");
}

TEST(StatusMenu, TheReadyLineShowsWholeSecondsUpToTheBufferLength) {
    EXPECT_EQ(readyLine(31.9, 30, 1440, 60), "30 s ready · 1440p 60 fps");
    EXPECT_EQ(readyLine(12.99, 30, 720, 30), "12 s ready · 720p 30 fps");
    EXPECT_EQ(readyLine(0.0, 30, 720, 30), "0 s ready · 720p 30 fps");
}

TEST(StatusMenu, WithoutABufferTheSaveItemsAreDisabled) {
    MenuFacts facts;
    facts.statusLine = "Waiting for a game";
    facts.bufferSeconds = 15;
    facts.hotkeyDisplay = "Alt+Shift+C";
    const std::vector<MenuEntry> menu = statusMenu(facts);
    using A = MenuAction;
    EXPECT_EQ(lines(menu), (std::vector<Line>{{"Waiting for a game", false, A::none},
                                              {"---", true, A::none},
                                              {"Save Clip  Alt+Shift+C", false, A::saveClip},
                                              {"Save Last", true, A::none},
                                              {"Pause Recording", true, A::togglePause},
                                              {"---", true, A::none},
                                              {"Clips…", true, A::openLibrary},
                                              {"Settings…", true, A::openSettings},
                                              {"---", true, A::none},
                                              {"Quit Vantel Record", true, A::quit}}));
    const MenuEntry& saveLast = entry(menu, "Save Last");
    EXPECT_EQ(saveLast.kind, MenuEntry::Kind::submenu);
    EXPECT_EQ(titles(saveLast.children), (std::vector<QString>{"10 seconds", "15 seconds"}));
    for (const MenuEntry& length : saveLast.children)
        EXPECT_FALSE(length.enabled);
    EXPECT_EQ(entry(menu, "Clips…").shortcut, "Ctrl+L");
    EXPECT_EQ(entry(menu, "Settings…").shortcut, "Ctrl+,");
    EXPECT_EQ(entry(menu, "Quit Vantel Record").shortcut, "Ctrl+Q");
}

TEST(StatusMenu, WithABufferAPauseStateAndAnUpdate) {
    MenuFacts facts;
    facts.statusLine = "Recording Desktop";
    facts.buffer = BufferFacts{301.4, 720};
    facts.bufferSeconds = 300;
    facts.fps = 30;
    facts.hotkeyDisplay = "Alt+Shift+C";
    facts.paused = true;
    facts.update = AppUpdate{"1.10.0", QUrl("https://example.org/dl")};
    const std::vector<MenuEntry> menu = statusMenu(facts);
    EXPECT_EQ(menu[1].text, "300 s ready · 720p 30 fps");
    EXPECT_FALSE(menu[1].enabled);
    EXPECT_TRUE(entry(menu, "Save Clip  Alt+Shift+C").enabled);
    const MenuEntry& saveLast = entry(menu, "Save Last");
    EXPECT_EQ(titles(saveLast.children),
              (std::vector<QString>{"10 seconds", "15 seconds", "30 seconds", "1 minute",
                                    "2 minutes", "5 minutes"}));
    EXPECT_EQ(saveLast.children[4].seconds, 120);
    EXPECT_EQ(saveLast.children[4].action, MenuAction::saveLast);
    EXPECT_TRUE(saveLast.children[4].enabled);
    EXPECT_EQ(entry(menu, "Resume Recording").action, MenuAction::togglePause);
    const MenuEntry& update = entry(menu, "Download Update 1.10.0…");
    EXPECT_EQ(update.action, MenuAction::openUpdate);
    EXPECT_EQ(menu[menu.size() - 3].text, "Download Update 1.10.0…")
        << "after Settings…, before the last separator";
}

} // namespace
} // namespace vantel
