// Game detection on a Wayland desktop (the headless sway of session.sh --wayland), through the
// workspace the program picks there: a stand-in game started as a native Wayland client and one
// started through Xwayland are both found from process facts and named from their desktop
// entries, with no display of their own (the portal's display is recorded); the focused X game
// wins over the native one; each is let go when it ends.

#include "E2eSupport.h"
#include "common/TestEnv.h"
#include "engine/GameDetector.h"
#include "platform/freedesktop/DesktopEntries.h"
#include "platform/workspace/Workspace.h"
#include "platform/workspace/wayland/WaylandWorkspace.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using namespace vantel;
using namespace vantel::e2e;

namespace {

// The desktop entries the test's workspaces match applications against, for the whole process.
vantel::platform::DesktopEntries& desktopEntries() {
    static vantel::platform::DesktopEntries entries(
        vantel::platform::DesktopEntries::defaultFolders());
    return entries;
}

void writeEntry(const std::string& id, const std::string& name, const std::string& exec) {
    test::writeFile(test::testHome() / "data/applications" / (id + ".desktop"),
                    "[Desktop Entry]\nType=Application\nName=" + name + "\nExec=" + exec +
                        "\nCategories=Game;\n");
}

std::string currentName(const GameDetector& detector) {
    return detector.current() ? detector.current()->name : std::string("(none)");
}

} // namespace

TEST(WaylandDetection, NativeAndXwaylandGamesAreFoundAndNamed) {
    // A native client has no window class to match: its entry is found by the program it runs.
    writeEntry("org.vantel.NativeRacer", "Native Racer", "vantel-test-game --race");
    writeEntry("org.vantel.XRacer", "X Racer", "x-racer");
    const QString display = xwaylandDisplay();
    ASSERT_FALSE(display.isEmpty()) << "sway's Xwayland did not answer";
    qputenv("DISPLAY", display.toUtf8());

    auto workspace = platform::createWorkspace(desktopEntries());
    auto* wayland = dynamic_cast<platform::WaylandWorkspace*>(workspace.get());
    ASSERT_NE(wayland, nullptr) << "a Wayland session picks the Wayland workspace";
    GameDetector detector(std::move(workspace), GameDetector::Timing{300ms, 2s});
    EXPECT_FALSE(detector.current().has_value());

    Child native = startWaylandGame({"--app-id", "org.vantel.NativeRacer"});
    ASSERT_TRUE(waitUntil([&] { return currentName(detector) == "Native Racer"; }, 20s))
        << currentName(detector);
    EXPECT_EQ(detector.current()->pid, native.pid());
    EXPECT_FALSE(detector.current()->displayID.has_value());

    Child xgame = startXwaylandGame({"--app-id", "org.vantel.XRacer", "--class", "XRacer"});
    ASSERT_TRUE(waitUntil([&] { return currentName(detector) == "X Racer"; }, 20s))
        << "the X game has the focus: " << currentName(detector);
    EXPECT_TRUE(wayland->seesXwayland());
    EXPECT_EQ(detector.current()->pid, xgame.pid());
    EXPECT_EQ(wayland->frontmostPid(), xgame.pid());

    xgame.stop();
    ASSERT_TRUE(waitUntil([&] { return currentName(detector) == "Native Racer"; }, 20s))
        << currentName(detector);
    native.stop();
    ASSERT_TRUE(waitUntil([&] { return !detector.current().has_value(); }, 20s))
        << currentName(detector);
}
