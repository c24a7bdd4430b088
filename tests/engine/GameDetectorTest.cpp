// The game detector over a scripted workspace: which applications count as games, which one is
// followed, on which display, and when the change is published.

#include "engine/GameDetector.h"

#include "common/TestEnv.h"
#include "platform/workspace/AppResolver.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <gtest/gtest.h>

using namespace std::chrono_literals;
using vantel::GameDetector;
using vantel::GameTarget;
using vantel::platform::Monitor;
using vantel::platform::RunningApp;
using vantel::platform::WindowInfo;
namespace fs = std::filesystem;

namespace {

class FakeWorkspace : public vantel::platform::Workspace {
public:
    QList<RunningApp> apps;
    std::optional<int32_t> front;
    QList<WindowInfo> wins;
    QList<Monitor> mons{{1, "left", QRect(0, 0, 1920, 1080), true},
                        {2, "right", QRect(1920, 0, 1280, 1024), false}};

    QList<RunningApp> runningApplications() override { return apps; }
    std::optional<int32_t> frontmostPid() override { return front; }
    QList<WindowInfo> windows() override { return wins; }
    QList<Monitor> monitors() override { return mons; }
    std::optional<uint32_t> mainDisplay() override { return mons.first().id; }
    QList<uint32_t> displaysAt(QPoint point) override {
        QList<uint32_t> ids;
        for (const Monitor& m : mons)
            if (m.geometry.contains(point))
                ids.append(m.id);
        return ids;
    }
    void announce() { emit applicationsChanged(); }
};

RunningApp app(int32_t pid, QString id, QString name = "Some App") {
    RunningApp a;
    a.pid = pid;
    a.appId = std::move(id);
    a.name = std::move(name);
    a.regular = true;
    a.executablePath = "/usr/bin/" + a.appId;
    return a;
}

WindowInfo window(int32_t pid, QRect bounds, int layer = 0) {
    return {uint32_t(pid * 10), pid, bounds, layer};
}

bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < limit.count()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(2);
    }
    return done();
}

struct Detector {
    FakeWorkspace* ws = new FakeWorkspace;
    QStringList extra;
    int changes = 0;
    int signals_ = 0;
    GameDetector detector;

    explicit Detector(GameDetector::Timing timing = {})
        : detector(std::unique_ptr<vantel::platform::Workspace>(ws), timing) {
        detector.setExtraGamesProvider([this] { return extra; });
        detector.onChange = [this] {
            ++changes;
        };
        QObject::connect(&detector, &GameDetector::currentChanged, [this] { ++signals_; });
    }
    bool isGame(const RunningApp& a) { return detector.isGame(a, extra); }
};

} // namespace

TEST(GameDetector, DecidesWhatIsAGameByListsPathsNamesAndCategories) {
    Detector d;
    d.extra = {"com.valvesoftware.steam", "steam", "my.own.Game"};

    EXPECT_FALSE(d.isGame(app(1, "com.valvesoftware.steam"))) << "never-games win over the list";
    EXPECT_FALSE(d.isGame(app(1, "steam")));
    EXPECT_TRUE(d.isGame(app(1, "com.valvesoftware.steam.helper")));
    EXPECT_TRUE(d.isGame(app(1, "org.vinegarhq.Sober")));
    EXPECT_TRUE(d.isGame(app(1, "my.own.Game")));
    EXPECT_FALSE(d.isGame(app(1, "my.own.game"))) << "the user's list matches exactly";

    RunningApp launchedBySteam = app(1, "hl2_linux");
    launchedBySteam.steamGame = true;
    EXPECT_TRUE(d.isGame(launchedBySteam));

    RunningApp fromStore = app(1, "portal2");
    fromStore.bundlePath = "/usr/share/applications/portal2.desktop";
    fromStore.executablePath = "/home/u/.steam/steam/steamapps/common/Portal 2/portal2_linux";
    EXPECT_TRUE(d.isGame(fromStore));
    fromStore.executablePath = "/home/u/Games/Heroic/Hades/Hades";
    EXPECT_TRUE(d.isGame(fromStore));
    fromStore.executablePath = "/home/u/steamapps/Common/x";
    EXPECT_FALSE(d.isGame(fromStore)) << "paths match case-sensitively";

    EXPECT_TRUE(d.isGame(app(1, "java", "MineCraft 1.20")));
    EXPECT_FALSE(d.isGame(app(1, "java", "A Minecraft map editor")));

    RunningApp categorised = app(1, "org.example.Puzzle");
    categorised.categories = {"Game", "LogicGame"};
    EXPECT_TRUE(d.isGame(categorised));
    categorised.categories = {"Office", "Spreadsheet"};
    EXPECT_FALSE(d.isGame(categorised));

    RunningApp background = app(1, "com.valvesoftware.steam.helper");
    background.regular = false;
    EXPECT_FALSE(d.isGame(background));
    RunningApp ended = app(1, "com.valvesoftware.steam.helper");
    ended.terminated = true;
    EXPECT_FALSE(d.isGame(ended));
}

TEST(GameDetector, PicksTheFrontmostGameElseTheFirstAndNamesIt) {
    Detector d;
    d.ws->apps = {app(10, "org.gnome.TextEditor"), app(11, "com.roblox.RobloxPlayer", "Player"),
                  app(12, "org.libretro.RetroArch", "RetroArch")};
    d.detector.scan();
    ASSERT_TRUE(d.detector.current());
    EXPECT_EQ(d.detector.current()->pid, 11) << "no game frontmost: the first game";
    EXPECT_EQ(d.detector.current()->name, "Roblox");

    d.ws->front = 12;
    d.detector.scan();
    EXPECT_EQ(d.detector.current()->pid, 12);
    EXPECT_EQ(d.detector.current()->name, "RetroArch");

    d.ws->front = 10; // a non-game in front leaves the first game
    d.ws->apps = {app(10, "org.gnome.TextEditor"), app(13, "com.mojang.minecraftlauncher", "java"),
                  app(14, "org.ppsspp.PPSSPP", "")};
    d.detector.scan();
    EXPECT_EQ(d.detector.current()->name, "Minecraft");
    d.ws->front = 14;
    d.detector.scan();
    EXPECT_EQ(d.detector.current()->name, "Game");
}

TEST(GameDetector, FindsTheDisplayOfTheLargestWindowAndKeepsItWhileTheWindowIsGone) {
    Detector d;
    d.ws->apps = {app(20, "org.libretro.RetroArch", "RetroArch")};
    d.ws->wins = {window(20, QRect(100, 100, 200, 200)),
                  window(20, QRect(1900, 0, 400, 300), 1),  // not layer 0
                  window(21, QRect(2000, 0, 1000, 1000)),   // another process
                  window(20, QRect(1500, 100, 1000, 500))}; // centre at x 2000: the right one
    d.detector.scan();
    EXPECT_EQ(d.detector.current(), (GameTarget{"RetroArch", 20, 2u}));
    EXPECT_EQ(d.changes, 1);
    EXPECT_EQ(d.signals_, 1);

    d.ws->wins.clear();
    d.detector.scan();
    EXPECT_EQ(d.detector.current(), (GameTarget{"RetroArch", 20, 2u})) << "display kept";
    EXPECT_EQ(d.changes, 1) << "an unchanged target publishes nothing";

    d.ws->wins = {window(20, QRect(300, 300, 800, 600))};
    d.detector.scan();
    EXPECT_EQ(d.detector.current(), (GameTarget{"RetroArch", 20, 1u})) << "moved to the left";
    EXPECT_EQ(d.changes, 2);

    d.ws->apps = {app(22, "org.libretro.RetroArch", "RetroArch")};
    d.ws->wins = {window(22, QRect(5000, 5000, 100, 100))}; // off every monitor
    d.detector.scan();
    EXPECT_EQ(d.detector.current(), (GameTarget{"RetroArch", 22, std::nullopt}))
        << "a new process whose window is on no monitor has no display";
    EXPECT_EQ(d.changes, 3);
}

TEST(GameDetector, ReactsToTheWorkspaceTheTickAndTheUsersList) {
    Detector d(GameDetector::Timing{40ms, 500ms}); // the tick cannot beat the delay
    const RunningApp tool = app(30, "org.example.Tool", "Tool");
    d.ws->apps = {tool};
    d.detector.scan();
    EXPECT_FALSE(d.detector.current());

    // Writing the user's list followed by a scan makes the game current at once.
    d.extra = {"org.example.Tool"};
    d.detector.scan();
    EXPECT_EQ(d.detector.current(), (GameTarget{"Tool", 30, std::nullopt}));
    EXPECT_EQ(d.changes, 1);

    // The game quits: one notification later it is gone, published once.
    d.ws->apps.clear();
    d.ws->announce();
    EXPECT_TRUE(d.detector.current()) << "not before the delay";
    EXPECT_TRUE(waitUntil([&] { return !d.detector.current(); }, 250ms));
    EXPECT_EQ(d.changes, 2);

    // No notification at all: the repeating tick still notices a new game.
    d.ws->apps = {tool};
    EXPECT_TRUE(waitUntil([&] { return d.detector.current().has_value(); }, 1500ms));
    EXPECT_EQ(d.changes, 3);
}

TEST(GameDetector, ScansOnceAtCreation) {
    auto* ws = new FakeWorkspace;
    ws->apps = {app(40, "com.mojang.Minecraft", "Minecraft")};
    GameDetector detector{std::unique_ptr<vantel::platform::Workspace>(ws)};
    EXPECT_EQ(detector.current(), (GameTarget{"Minecraft", 40, std::nullopt}));
}

namespace {

// A /proc and a set of desktop entries with the same games run once by a native launcher and
// once by the launcher's Flatpak, beside the launchers' own windows.
struct LauncherMachine {
    fs::path proc = vantel::test::testHome() / "launchers/proc";
    fs::path apps = vantel::test::testHome() / "launchers/applications";
    vantel::platform::DesktopEntries entries{{apps}};

    void process(int pid, const fs::path& exe, const std::string& environ,
                 const std::string& flatpak = {}) {
        const fs::path dir = proc / std::to_string(pid);
        fs::create_directories(dir / "root");
        fs::create_symlink(exe, dir / "exe");
        vantel::test::writeFile(dir / "environ", environ);
        vantel::test::writeFile(dir / "comm", exe.filename().string() + "\n");
        if (!flatpak.empty())
            vantel::test::writeFile(dir / "root/.flatpak-info",
                                    "[Application]\nname=" + flatpak + "\n\n[Instance]\napp-path=" +
                                        "/var/lib/flatpak/app/" + flatpak + "/current/files\n");
    }
    void entry(const std::string& id, const std::string& body) {
        vantel::test::writeFile(apps / (id + ".desktop"),
                                "[Desktop Entry]\nType=Application\n" + body);
    }

    LauncherMachine() {
        using namespace std::string_literals;
        fs::remove_all(proc);
        entry("steam", "Name=Steam\nExec=steam %U\nCategories=Network;Game;\n");
        entry("com.valvesoftware.Steam", "Name=Steam\nExec=/usr/bin/flatpak run "
                                         "com.valvesoftware.Steam\nCategories=Network;Game;\n");
        entry("com.heroicgameslauncher.hgl", "Name=Heroic Games Launcher\nStartupWMClass=Heroic\n"
                                             "Categories=Game;\n");
        entry("net.lutris.Lutris", "Name=Lutris\nStartupWMClass=Lutris\nCategories=Game;\n");
        entry("portal2", "Name=Portal 2\nStartupWMClass=portal2_linux\nCategories=Game;\n");
        entry("celeste", "Name=Celeste\nStartupWMClass=Celeste\nCategories=Game;\n");

        const std::string game = "SteamGameId=620\0HOME=/home/u\0"s;
        process(10, "/home/u/.local/share/Steam/steamapps/common/Portal 2/portal2_linux", game);
        process(11,
                "/home/u/.var/app/com.valvesoftware.Steam/.local/share/Steam/steamapps/common/"
                "Portal 2/portal2_linux",
                game, "com.valvesoftware.Steam");
        process(12, "/home/u/.var/app/com.valvesoftware.Steam/.local/share/Steam/ubuntu12_32/steam",
                "HOME=/home/u\0"s, "com.valvesoftware.Steam");
        process(13, "/app/bin/steamwebhelper", "HOME=/home/u\0"s, "com.valvesoftware.Steam");
        process(20, "/home/u/Games/Heroic/Hades/Hades.bin.x86_64", "HOME=/home/u\0"s);
        process(21, "/home/u/Games/Heroic/Hades/Hades.bin.x86_64", "HOME=/home/u\0"s,
                "com.heroicgameslauncher.hgl");
        process(22, "/app/bin/heroic/heroic", "HOME=/home/u\0"s, "com.heroicgameslauncher.hgl");
        process(30, "/home/u/Games/celeste/Celeste.bin.x86_64", "HOME=/home/u\0"s);
        process(31, "/home/u/Games/celeste/Celeste.bin.x86_64", "HOME=/home/u\0"s,
                "net.lutris.Lutris");
        process(32, "/usr/bin/python3.11", "HOME=/home/u\0"s, "net.lutris.Lutris");
        entries.refreshIfChanged();
    }
};

} // namespace

TEST(GameDetector, GamesUnderASandboxedLauncherAreFoundAndNamedAsUnderTheNativeOne) {
    LauncherMachine machine;
    vantel::platform::AppResolver resolver(machine.entries, machine.proc, 1);
    Detector d;
    struct Case {
        int native, sandboxed;
        vantel::platform::WindowClass window;
        QString name;
    };
    const Case games[] = {{10, 11, {"portal2_linux", "portal2_linux"}, "Portal 2"},
                          {20, 21, {"Hades", "Hades"}, "Hades"},
                          {30, 31, {"celeste", "Celeste"}, "Celeste"}};
    for (const Case& c : games) {
        for (int pid : {c.native, c.sandboxed}) {
            d.ws->apps = {resolver.describe(pid, c.window, true)};
            d.detector.scan();
            ASSERT_TRUE(d.detector.current()) << "pid " << pid;
            EXPECT_EQ(d.detector.current()->name, c.name.toStdString()) << "pid " << pid;
            EXPECT_EQ(d.detector.current()->pid, pid);
        }
    }

    // The launchers' own windows, sandboxed or not, stay never-games.
    const std::pair<int, vantel::platform::WindowClass> launchers[] = {
        {12, {"steam", "Steam"}},
        {13, {"steamwebhelper", "steamwebhelper"}},
        {22, {"heroic", "Heroic"}},
        {32, {"lutris", "Lutris"}}};
    for (const auto& [pid, window] : launchers)
        EXPECT_FALSE(d.isGame(resolver.describe(pid, window, true))) << "pid " << pid;
}
