// Backend choice by environment: forced null backends and the Wayland session without X. Each
// case changes the process environment, which other threads may be reading, so each runs in a
// fresh process of its own.

#include "platform/CaptureSource.h"
#include "platform/Workspace.h"

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>
#include <stdexcept>

using namespace vantel::platform;

namespace {

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

TEST(CaptureFactory, WaylandWithoutXExplainsInsteadOfRecording) {
    inOwnProcess([] {
        unsetenv("DISPLAY");
        unsetenv("VANTEL_CAPTURE");
        setenv("WAYLAND_DISPLAY", "wayland-0", 1);
        setenv("XDG_SESSION_TYPE", "wayland", 1);
        auto backend = createCaptureBackend();
        EXPECT_FALSE(backend->hasPermission());
        EXPECT_FALSE(backend->mainDisplay().has_value());
        EXPECT_THROW(backend->displays(), std::runtime_error);
        NoHandler handler;
        auto stream = backend->createStream({}, handler);
        try {
            stream->start();
            ADD_FAILURE() << "a Wayland stream must not start";
        } catch (const std::runtime_error& e) {
            EXPECT_NE(std::string(e.what()).find("Wayland is not supported yet"),
                      std::string::npos);
        }
        stream->stop();
    });
}

TEST(CaptureFactory, NullCaptureWhenForcedOrWithoutDisplay) {
    inOwnProcess([] {
        setenv("VANTEL_CAPTURE", "null", 1);
        setenv("DISPLAY", ":0", 1);
        EXPECT_TRUE(createCaptureBackend()->displays().empty());
    });
    inOwnProcess([] {
        unsetenv("VANTEL_CAPTURE");
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
        unsetenv("VANTEL_WORKSPACE");
        setenv("DISPLAY", ":9999", 1);
        auto workspace = createWorkspace();
        EXPECT_TRUE(workspace->monitors().isEmpty());
        EXPECT_FALSE(workspace->frontmostPid().has_value());
    });
    inOwnProcess([] {
        setenv("DISPLAY", ":9999", 1);
        setenv("VANTEL_WORKSPACE", "x11", 1);
        EXPECT_THROW(createWorkspace(), std::runtime_error);
    });
}
