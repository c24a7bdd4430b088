// Backend choice by environment: forced backends and the Wayland session. Each
// case changes the process environment, which other threads may be reading, so each runs in a
// fresh process of its own.

#include "platform/capture/CaptureBackend.h"
#include "platform/capture/wayland/WaylandCaptureBackend.h"
#include "platform/capture/x11/X11CaptureBackend.h"
#include "platform/freedesktop/DesktopEntries.h"
#include "platform/workspace/Workspace.h"

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>
#include <stdexcept>

using namespace vantel::platform;

namespace {

// The desktop entries the test's workspaces match applications against, for the whole process.
vantel::platform::DesktopEntries& desktopEntries() {
    static vantel::platform::DesktopEntries entries(
        vantel::platform::DesktopEntries::defaultFolders());
    return entries;
}

struct NoHandler : SampleHandler {
    void onVideo(const vantel::media::VideoFrame&, FrameStatus) override {}
    void onAudio(const vantel::media::AudioChunk&, bool) override {}
    void onStreamStopped(const std::string&) override {}
};

// Runs `body` in a new process started from this test program; it passes when the body
// recorded no failure there.
void inOwnProcess(const std::function<void()>& body) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            body();
            std::fflush(stdout);
            std::_Exit(testing::Test::HasFailure() ? 1 : 0);
        },
        testing::ExitedWithCode(0), "");
}

} // namespace

// A Wayland session records through the portal, even where Xwayland offers an X display (its
// root window shows only X clients). Without a portal to answer, nothing is permitted and a
// start says why instead of asking.
TEST(CaptureFactory, WaylandSessionUsesThePortalEvenWithXwayland) {
    inOwnProcess([] {
        setenv("DISPLAY", ":0", 1);
        setenv("WAYLAND_DISPLAY", "wayland-0", 1);
        setenv("XDG_SESSION_TYPE", "wayland", 1);
        // A bus where no portal runs.
        setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus", 1);
        auto backend = createCaptureBackend();
        EXPECT_NE(dynamic_cast<WaylandCaptureBackend*>(backend.get()), nullptr);
        EXPECT_FALSE(backend->hasPermission());
        EXPECT_FALSE(backend->requestPermission());
        try {
            backend->displays();
            ADD_FAILURE() << "displays() without a portal must throw";
        } catch (const std::runtime_error& e) {
            EXPECT_NE(std::string(e.what()).find("screen sharing"), std::string::npos) << e.what();
        }
    });
    inOwnProcess([] {
        setenv("WAYLAND_DISPLAY", "wayland-0", 1);
        EXPECT_NE(dynamic_cast<X11CaptureBackend*>(createCaptureBackend(CaptureChoice::x11).get()),
                  nullptr);
    });
}

TEST(CaptureFactory, NullCaptureWhenForcedOrWithoutDisplay) {
    inOwnProcess([] {
        setenv("DISPLAY", ":0", 1);
        EXPECT_TRUE(createCaptureBackend(CaptureChoice::null)->displays().empty());
    });
    inOwnProcess([] {
        unsetenv("DISPLAY");
        unsetenv("WAYLAND_DISPLAY");
        unsetenv("XDG_SESSION_TYPE");
        auto headless = createCaptureBackend();
        EXPECT_TRUE(headless->hasPermission());
        EXPECT_TRUE(headless->displays().empty());
    });
}

// No X display to open: the workspace falls back to the empty desktop, unless X is forced.
TEST(CaptureFactory, WorkspaceWithoutDisplayIsEmptyUnlessX11IsForced) {
    inOwnProcess([] {
        setenv("DISPLAY", ":9999", 1);
        auto workspace = createWorkspace(desktopEntries());
        EXPECT_TRUE(workspace->monitors().isEmpty());
        EXPECT_FALSE(workspace->frontmostPid().has_value());
    });
    inOwnProcess([] {
        setenv("DISPLAY", ":9999", 1);
        EXPECT_THROW(createWorkspace(desktopEntries(), WorkspaceChoice::x11), std::runtime_error);
    });
}
