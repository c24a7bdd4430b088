// Backend choice by environment: forced null backends and the Wayland session without X.

#include "platform/CaptureSource.h"
#include "platform/Workspace.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <stdexcept>

using namespace vantel::platform;

namespace {

struct NoHandler : SampleHandler {
    void onVideo(const vantel::media::VideoFrame&, FrameStatus) override {}
    void onAudio(const vantel::media::AudioChunk&, bool) override {}
    void onStreamStopped(const std::string&) override {}
};

} // namespace

TEST(CaptureFactory, WaylandWithoutXExplainsInsteadOfRecording) {
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
        FAIL() << "a Wayland stream must not start";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("Wayland is not supported yet"), std::string::npos);
    }
    stream->stop();
    unsetenv("WAYLAND_DISPLAY");
    unsetenv("XDG_SESSION_TYPE");
}

TEST(CaptureFactory, NullBackendsWhenForcedOrWithoutDisplay) {
    setenv("VANTEL_CAPTURE", "null", 1);
    setenv("DISPLAY", ":0", 1);
    auto forced = createCaptureBackend();
    EXPECT_TRUE(forced->displays().empty());
    unsetenv("VANTEL_CAPTURE");
    unsetenv("DISPLAY");
    auto headless = createCaptureBackend();
    EXPECT_TRUE(headless->hasPermission());
    EXPECT_TRUE(headless->displays().empty());

    // No X display to open: the workspace falls back to the empty desktop, unless X is forced.
    setenv("DISPLAY", ":9999", 1);
    auto workspace = createWorkspace();
    EXPECT_TRUE(workspace->monitors().isEmpty());
    EXPECT_FALSE(workspace->frontmostPid().has_value());
    setenv("VANTEL_WORKSPACE", "x11", 1);
    EXPECT_THROW(createWorkspace(), std::runtime_error);
    unsetenv("VANTEL_WORKSPACE");
    unsetenv("DISPLAY");
}
