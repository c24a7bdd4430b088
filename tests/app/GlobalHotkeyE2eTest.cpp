// The save shortcut under a real X server and window manager, pressed with xdotool: lock keys,
// exact modifiers, key repeat, re-binding, ids, and a combination another X client holds.

#include "E2eSupport.h"
#include "app/GlobalHotkey.h"

#include <QCoreApplication>
#include <QThread>
#include <chrono>
#include <cstdlib>
#include <gtest/gtest.h>
#include <xcb/xcb.h>

namespace vantel {
namespace {

using namespace std::chrono_literals;
using e2e::runTool;
using e2e::waitUntil;

constexpr std::uint32_t kMacKeyF = 3;
const Hotkey kCtrlShiftF{kMacKeyF, Hotkey::kCtrl | Hotkey::kShift};

void press(const QString& keys) {
    runTool("xdotool", {"key", keys});
}

struct Counter {
    int count = 0;
    bool offMainThread = false;
    std::function<void()> action() {
        return [this] {
            ++count;
            offMainThread |= QThread::currentThread() != qApp->thread();
        };
    }
};

class GlobalHotkeyE2e : public testing::Test {
protected:
    static void SetUpTestSuite() { runTool("setxkbmap", {"-layout", "us"}); }
};

TEST_F(GlobalHotkeyE2e, PressRunsTheActionOnTheMainThreadWithAnyLockKeysOnce) {
    Counter saves;
    GlobalHotkey hotkey(Hotkey::defaultSave(), saves.action());
    ASSERT_TRUE(hotkey.registered());

    press("alt+shift+c");
    EXPECT_EQ(saves.count, 0) << "the action runs later, from the event loop";
    ASSERT_TRUE(waitUntil([&] { return saves.count == 1; }, 10s));

    press("Num_Lock");
    press("alt+shift+c");
    press("Num_Lock");
    ASSERT_TRUE(waitUntil([&] { return saves.count == 2; }, 10s)) << "with NumLock on";
    press("Caps_Lock");
    press("alt+shift+c");
    press("Caps_Lock");
    ASSERT_TRUE(waitUntil([&] { return saves.count == 3; }, 10s)) << "with CapsLock on";

    // Held down long enough for the keyboard to repeat: one press, one action.
    runTool("xdotool", {"keydown", "alt+shift+c", "sleep", "1.2", "keyup", "alt+shift+c"});
    ASSERT_TRUE(waitUntil([&] { return saves.count >= 4; }, 10s));
    // Other modifiers than the shortcut's do not count; a later real press marks the end.
    press("alt+c");
    press("ctrl+alt+shift+c");
    press("alt+shift+c");
    ASSERT_TRUE(waitUntil([&] { return saves.count >= 5; }, 10s));
    QCoreApplication::processEvents();
    EXPECT_EQ(saves.count, 5);
    EXPECT_FALSE(saves.offMainThread);
}

TEST_F(GlobalHotkeyE2e, RebindingReleasesTheOldKeysAndIdsKeepCounting) {
    Counter oldKeys, newKeys;
    auto first = std::make_unique<GlobalHotkey>(Hotkey::defaultSave(), oldKeys.action());
    const std::uint32_t firstId = first->id();
    first.reset();
    GlobalHotkey second(kCtrlShiftF, newKeys.action());
    EXPECT_EQ(second.id(), firstId + 1);
    ASSERT_TRUE(second.registered());

    press("alt+shift+c");
    press("ctrl+shift+f");
    ASSERT_TRUE(waitUntil([&] { return newKeys.count == 1; }, 10s));
    EXPECT_EQ(oldKeys.count, 0);

    // Two live shortcuts; destroying one leaves the other working.
    Counter third;
    auto extra = std::make_unique<GlobalHotkey>(Hotkey::defaultSave(), third.action());
    EXPECT_EQ(extra->id(), second.id() + 1);
    press("alt+shift+c");
    ASSERT_TRUE(waitUntil([&] { return third.count == 1; }, 10s));
    extra.reset();
    press("ctrl+shift+f");
    ASSERT_TRUE(waitUntil([&] { return newKeys.count == 2; }, 10s));
    EXPECT_EQ(third.count, 1);
}

// Another program on the same display that holds Alt+Shift+C.
struct OtherClientGrab {
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    OtherClientGrab() {
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
        const xcb_keycode_t keyC = 54;
        xcb_generic_error_t* error = xcb_request_check(
            c, xcb_grab_key_checked(c, 1, screen->root, XCB_MOD_MASK_1 | XCB_MOD_MASK_SHIFT, keyC,
                                    XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
        EXPECT_EQ(error, nullptr);
        std::free(error);
    }
    // Lets go and waits for the server to confirm: a closed connection alone is cleaned up
    // by the server some time later.
    ~OtherClientGrab() {
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
        std::free(xcb_request_check(
            c, xcb_ungrab_key_checked(c, 54, screen->root, XCB_MOD_MASK_1 | XCB_MOD_MASK_SHIFT)));
        xcb_disconnect(c);
    }
};

TEST_F(GlobalHotkeyE2e, KeysHeldByAnotherClientAreNotRegisteredUntilItLetsGo) {
    Counter saves, marker;
    GlobalHotkey end(kCtrlShiftF, marker.action());
    {
        OtherClientGrab other;
        GlobalHotkey taken(Hotkey::defaultSave(), saves.action());
        EXPECT_FALSE(taken.registered());
        press("alt+shift+c");
        press("ctrl+shift+f");
        ASSERT_TRUE(waitUntil([&] { return marker.count == 1; }, 10s));
        EXPECT_EQ(saves.count, 0);
    }
    GlobalHotkey free(Hotkey::defaultSave(), saves.action());
    EXPECT_TRUE(free.registered());
    press("alt+shift+c");
    ASSERT_TRUE(waitUntil([&] { return saves.count == 1; }, 10s));
}

} // namespace
} // namespace vantel
