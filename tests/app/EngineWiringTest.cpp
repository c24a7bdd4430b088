// The wiring between the settings store and the engine: a write of the user's game list must
// reach the game detector at once, without waiting for its timer.

#include "app/EngineWiring.h"

#include "common/TestEnv.h"
#include "engine/CaptureController.h"
#include "engine/GameDetector.h"
#include "platform/capture/CaptureBackend.h"
#include "platform/workspace/Workspace.h"
#include "settings/Notifications.h"
#include "settings/Settings.h"

#include <gtest/gtest.h>

namespace {

using vantel::platform::RunningApp;

class OneAppWorkspace : public vantel::platform::Workspace {
public:
    QList<RunningApp> runningApplications() override {
        RunningApp app;
        app.pid = 4242;
        app.appId = "org.example.Puzzler";
        app.name = "Puzzler";
        app.regular = true;
        app.executablePath = "/usr/bin/puzzler";
        return {app};
    }
    std::optional<int32_t> frontmostPid() override { return 4242; }
    QList<vantel::platform::WindowInfo> windows() override { return {}; }
    QList<vantel::platform::Monitor> monitors() override { return {}; }
    std::optional<uint32_t> mainDisplay() override { return std::nullopt; }
    QList<uint32_t> displaysAt(QPoint) override { return {}; }
};

TEST(SharedServices, WritingTheGameListRescansAtOnce) {
    vantel::Notifications notifications;
    vantel::Settings settings(
        QString::fromStdString((vantel::test::testHome() / "wiring.ini").string()), notifications);
    vantel::CaptureController capture(vantel::platform::createCaptureBackend());
    vantel::GameDetector detector(std::make_unique<OneAppWorkspace>());
    vantel::EngineWiring::wire(settings, capture, detector);
    ASSERT_FALSE(detector.current());

    settings.setExtraGames({"org.example.Puzzler"});
    ASSERT_TRUE(detector.current());
    EXPECT_EQ(detector.current()->name, "Puzzler");
    EXPECT_EQ(detector.current()->pid, 4242);

    settings.setExtraGames({});
    EXPECT_FALSE(detector.current());
}

} // namespace
