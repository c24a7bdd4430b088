// The game detector over the real X11 workspace driving the capture controller, as the
// application wires them: a stand-in game recognised by the user's list or by its desktop
// entry's category is followed within two seconds, on the monitor that shows it, and recording
// waits again once it closes or follows it to another monitor; a game minimised or left on
// another desktop is still running and keeps its recording.

#include "E2eSupport.h"
#include "engine/CaptureController.h"
#include "engine/GameDetector.h"
#include "platform/capture/CaptureBackend.h"
#include "platform/freedesktop/DesktopEntries.h"
#include "platform/workspace/Workspace.h"

#include <QCoro/QCoroTask>
#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>
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

// The stand-in game's top-level window, found by its process.
QString windowOf(int32_t pid) {
    const QByteArray out =
        runTool("xdotool", {"search", "--sync", "--onlyvisible", "--pid", QString::number(pid)});
    return QString::fromLatin1(out).split('\n', Qt::SkipEmptyParts).value(0);
}

// The window manager's current desktop for as long as the object lives.
struct DesktopSwitch {
    explicit DesktopSwitch(int desktop) {
        runTool("xdotool", {"set_desktop", QString::number(desktop)});
    }
    ~DesktopSwitch() { runTool("xdotool", {"set_desktop", "0"}); }
};

// The detector and the controller joined the way the application joins them.
struct Recorder {
    QStringList extraGames;
    CaptureConfig config;
    std::unique_ptr<GameDetector> detector;
    CaptureController capture{platform::createCaptureBackend()};
    QElapsedTimer sinceWorkspaceChange;

    Recorder() {
        auto workspace = platform::createWorkspace(desktopEntries());
        QObject::connect(workspace.get(), &platform::Workspace::applicationsChanged,
                         [this] { sinceWorkspaceChange.start(); });
        detector = std::make_unique<GameDetector>(std::move(workspace));
        detector->setExtraGamesProvider([this] { return extraGames; });
        config.mode = CaptureMode::games;
        config.fps = 15;
        config.maxHeight = 360;
        config.bufferSeconds = 5;
        capture.setConfigProvider([this] { return config; });
        capture.setCurrentGameProvider([this] { return detector->current(); });
        detector->onChange = [this] {
            capture.sync();
        };
        QCoro::waitFor(capture.sync());
    }
    ~Recorder() {
        detector->onChange = nullptr;
        QCoro::waitFor(capture.stop());
    }

    std::optional<uint32_t> monitorAt(QPoint point) {
        for (const platform::Monitor& m : detector->workspace().monitors())
            if (m.geometry.contains(point))
                return m.id;
        return std::nullopt;
    }
    bool recording(const std::string& name) {
        return capture.state() == CaptureController::State::recording(name);
    }
};

// Waits for the game's window, then for the detector, and tells how long the detector took
// after the workspace announced the window.
std::chrono::milliseconds followedAfter(Recorder& r, int32_t pid) {
    waitUntil([&] { return r.detector->current() && r.detector->current()->pid == pid; }, 8s);
    std::printf("followed %lld ms after the workspace change\n",
                r.sinceWorkspaceChange.isValid() ? r.sinceWorkspaceChange.elapsed() : -1LL);
    return std::chrono::milliseconds(
        r.sinceWorkspaceChange.isValid() ? r.sinceWorkspaceChange.elapsed() : 99999);
}

// Two monitors side by side on the session's one screen, for as long as the object lives.
struct SplitScreen {
    SplitScreen() {
        runTool("xrandr", {"--setmonitor", "e2e-left", "960/254x1080/286+0+0", "screen"});
        runTool("xrandr", {"--setmonitor", "e2e-right", "960/254x1080/286+960+0", "none"});
    }
    ~SplitScreen() {
        runTool("xrandr", {"--delmonitor", "e2e-right"});
        runTool("xrandr", {"--delmonitor", "e2e-left"});
    }
};

} // namespace

TEST(Detection, AGameOnTheUsersListIsFollowedUntilItCloses) {
    writeDesktopEntry("org.vantel.ListedGame", "Listed Game", "Utility;");
    Recorder r;
    r.extraGames = {"org.vantel.ListedGame"};
    EXPECT_EQ(r.capture.state(), CaptureController::State::waiting());

    Child game = startGame({"--app-id", "org.vantel.ListedGame", "--x", "300", "--y", "200"});
    EXPECT_LE(followedAfter(r, game.pid()), 2000ms);
    ASSERT_TRUE(r.detector->current());
    EXPECT_EQ(r.detector->current()->name, "Listed Game");
    EXPECT_EQ(r.detector->current()->displayID, r.monitorAt({620, 440}));
    EXPECT_TRUE(waitUntil([&] { return r.recording("Listed Game"); }, 5s))
        << r.capture.state().text;

    game.stop();
    QElapsedTimer closed;
    closed.start();
    EXPECT_TRUE(waitUntil([&] { return !r.detector->current(); }, 4s));
    EXPECT_LE(closed.elapsed(), 2000);
    EXPECT_TRUE(
        waitUntil([&] { return r.capture.state() == CaptureController::State::waiting(); }, 5s));
}

TEST(Detection, ADesktopEntryInTheGameCategoryMakesAGame) {
    writeDesktopEntry("org.vantel.PuzzleGame", "Puzzle Game", "Game;LogicGame;");
    writeDesktopEntry("org.vantel.Notes", "Notes", "Office;");
    Recorder r;

    Child notes = startGame({"--app-id", "org.vantel.Notes", "--x", "50", "--y", "50"});
    waitUntil([] { return false; }, 2500ms);
    EXPECT_FALSE(r.detector->current()) << "an office application is no game";

    Child game = startGame({"--app-id", "org.vantel.PuzzleGame", "--x", "400", "--y", "300"});
    EXPECT_LE(followedAfter(r, game.pid()), 2000ms);
    ASSERT_TRUE(r.detector->current());
    EXPECT_EQ(r.detector->current()->name, "Puzzle Game");
    EXPECT_TRUE(waitUntil([&] { return r.recording("Puzzle Game"); }, 5s))
        << r.capture.state().text;
}

TEST(Detection, MovingTheGameToAnotherMonitorMovesTheRecording) {
    SplitScreen split;
    writeDesktopEntry("org.vantel.MovingGame", "Moving Game", "Game;");
    Recorder r;
    const std::optional<uint32_t> left = r.monitorAt({100, 100});
    const std::optional<uint32_t> right = r.monitorAt({1500, 100});
    ASSERT_TRUE(left && right && *left != *right) << "two monitors expected";

    Child game = startGame({"--app-id", "org.vantel.MovingGame", "--x", "100", "--y", "100",
                            "--width", "480", "--height", "360"});
    followedAfter(r, game.pid());
    ASSERT_TRUE(waitUntil([&] { return r.recording("Moving Game"); }, 5s))
        << r.capture.state().text;
    EXPECT_EQ(r.capture.target()->displayID, left);

    game.send("move 1200 200");
    // Nothing announces a moved window: the repeating scan notices it.
    EXPECT_TRUE(waitUntil(
        [&] {
            return r.capture.target() && r.capture.target()->displayID == right &&
                   r.recording("Moving Game");
        },
        9s))
        << r.capture.state().text;
    ASSERT_TRUE(r.capture.buffer());
    EXPECT_EQ(r.capture.buffer()->width(), 320) << "a 960 x 1080 monitor at 360 lines";
    EXPECT_EQ(r.capture.buffer()->height(), 360);
}

TEST(Detection, AMinimisedGameOrOneOnAnotherDesktopKeepsItsRecording) {
    writeDesktopEntry("org.vantel.HiddenGame", "Hidden Game", "Game;");
    Recorder r;
    Child game = startGame({"--app-id", "org.vantel.HiddenGame", "--x", "200", "--y", "200"});
    followedAfter(r, game.pid());
    ASSERT_TRUE(waitUntil([&] { return r.recording("Hidden Game"); }, 5s))
        << r.capture.state().text;
    const std::shared_ptr<ReplayBuffer> run = r.capture.buffer();
    const QString window = windowOf(game.pid());
    ASSERT_FALSE(window.isEmpty());
    auto onScreen = [&] {
        const QList<platform::WindowInfo> list = r.detector->workspace().windows();
        return std::any_of(list.begin(), list.end(),
                           [&](const platform::WindowInfo& w) { return w.pid == game.pid(); });
    };
    // Long enough for the scan after the change of the active window (1.5 s) to have run.
    auto stillRecorded = [&](const char* after) {
        waitUntil([] { return false; }, 2500ms);
        ASSERT_TRUE(r.detector->current()) << after;
        EXPECT_EQ(r.detector->current()->pid, game.pid()) << after;
        EXPECT_TRUE(r.recording("Hidden Game")) << after << ": " << r.capture.state().text;
        EXPECT_EQ(r.capture.buffer(), run) << after << ": the buffer was thrown away";
    };

    // Many full-screen games minimise themselves when the player switches away.
    runTool("xdotool", {"windowminimize", "--sync", window});
    EXPECT_TRUE(waitUntil([&] { return !onScreen(); }, 5s)) << "the window is minimised";
    stillRecorded("minimised");

    runTool("xdotool", {"windowactivate", "--sync", window});
    ASSERT_TRUE(waitUntil(onScreen, 5s));
    DesktopSwitch away(1);
    EXPECT_TRUE(waitUntil([&] { return !onScreen(); }, 5s)) << "the game is on another desktop";
    stillRecorded("on another desktop");
}
