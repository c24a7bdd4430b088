// Shortcuts where nothing can be grabbed (no display server): they report so, still take ids
// from the one counter, and their actions never run.

#include "app/GlobalHotkey.h"

#include <QCoreApplication>
#include <gtest/gtest.h>
#include <memory>

namespace vantel {
namespace {

TEST(GlobalHotkey, WithoutADesktopNothingIsRegisteredAndIdsStillCount) {
    GlobalHotkey::useGrabber({platform::HotkeyConfig::Choice::null});
    int runs = 0;
    auto first = std::make_unique<GlobalHotkey>(Hotkey::defaultSave(), [&] { ++runs; });
    EXPECT_FALSE(first->registered());
    const std::uint32_t id = first->id();
    first.reset();
    GlobalHotkey second(Hotkey::defaultSave(), [&] { ++runs; });
    EXPECT_EQ(second.id(), id + 1) << "ids are never reused";
    EXPECT_EQ(second.hotkey(), Hotkey::defaultSave());
    GlobalHotkey noKey(Hotkey{0xFFFF, Hotkey::kAlt}, [&] { ++runs; });
    EXPECT_FALSE(noKey.registered()) << "a key code that names no key";
    EXPECT_EQ(noKey.id(), id + 2);
    QCoreApplication::processEvents();
    EXPECT_EQ(runs, 0);
}

} // namespace
} // namespace vantel
