// The Wayland workspace over a compositor socket of our own: the processes connected to it are
// the running applications, described from their desktop entries, and the game detector names
// the game among them with no display of its own (the portal's display is recorded); a process
// that is only running is not listed; one that disconnects goes, with a notification.

#include "platform/workspace/wayland/WaylandWorkspace.h"

#include "common/TestEnv.h"
#include "engine/GameDetector.h"
#include "platform/freedesktop/DesktopEntries.h"
#include "platform/workspace/wayland/SocketClients.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <gtest/gtest.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace vantel;
using namespace vantel::platform;

namespace {

// The desktop entries the test's workspaces match applications against, for the whole process.
vantel::platform::DesktopEntries& desktopEntries() {
    static vantel::platform::DesktopEntries entries(
        vantel::platform::DesktopEntries::defaultFolders());
    return entries;
}

bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 20s) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < limit.count())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

// A python process that connects to the socket (or not) and sleeps until it is stopped.
std::unique_ptr<QProcess> client(const fs::path& socket, bool connects) {
    auto process = std::make_unique<QProcess>();
    const char* script = "import socket, sys, time\n"
                         "if sys.argv[2] == 'yes':\n"
                         "    s = socket.socket(socket.AF_UNIX); s.connect(sys.argv[1])\n"
                         "print('up', flush=True); time.sleep(120)\n";
    process->start("/usr/bin/python3", {"-c", script, QString::fromStdString(socket.string()),
                                        connects ? "yes" : "no"});
    EXPECT_TRUE(process->waitForReadyRead(10000));
    return process;
}

bool lists(const QList<RunningApp>& apps, int32_t pid) {
    return std::any_of(apps.begin(), apps.end(), [&](const RunningApp& a) { return a.pid == pid; });
}

} // namespace

TEST(WaylandWorkspace, ProgramsConnectedToTheCompositorAreTheRunningApplications) {
    const std::string python = fs::canonical("/usr/bin/python3").filename().string();
    test::writeFile(test::testHome() / "data/applications/org.vantel.Racer.desktop",
                    "[Desktop Entry]\nType=Application\nName=Racer\nExec=" + python +
                        " --race\nCategories=Game;ActionGame;\n");
    const fs::path socket = test::testHome() / "tmp/wayland-test";
    QLocalServer compositor;
    ASSERT_TRUE(compositor.listen(QString::fromStdString(socket.string())));
    std::vector<QLocalSocket*> accepted;
    QObject::connect(&compositor, &QLocalServer::newConnection,
                     [&] { accepted.push_back(compositor.nextPendingConnection()); });

    auto game = client(socket, true);
    auto bystander = client(socket, false);
    ASSERT_TRUE(waitUntil([&] { return accepted.size() == 1; }));
    EXPECT_EQ(SocketClients::peers(socket).size(), 1u);

    auto workspace = std::make_unique<WaylandWorkspace>(
        desktopEntries(), WaylandWorkspace::Options{socket, false, 100ms, "/proc"});
    WaylandWorkspace* seen = workspace.get();
    QSignalSpy changes(seen, &Workspace::applicationsChanged);
    const QList<RunningApp> apps = seen->runningApplications();
    ASSERT_TRUE(lists(apps, int32_t(game->processId())));
    EXPECT_FALSE(lists(apps, int32_t(bystander->processId()))) << "running, but no windows";
    EXPECT_EQ(apps.first().name, "Racer");
    EXPECT_TRUE(apps.first().regular);
    EXPECT_FALSE(seen->frontmostPid().has_value());

    GameDetector detector(std::move(workspace), GameDetector::Timing{100ms, 60s});
    ASSERT_TRUE(detector.current().has_value());
    EXPECT_EQ(*detector.current(), (GameTarget{"Racer", int32_t(game->processId()), std::nullopt}));

    game->kill();
    game->waitForFinished(5000);
    ASSERT_TRUE(waitUntil([&] { return !detector.current().has_value(); }, 10s))
        << "the detector rescans on the workspace's notification, not only on its 60 s tick";
    EXPECT_GE(changes.size(), 1);
    EXPECT_TRUE(SocketClients::peers(socket).empty());
    bystander->kill();
    bystander->waitForFinished(5000);
}

TEST(WaylandWorkspace, NeedsTheCompositorsSocket) {
    EXPECT_THROW(WaylandWorkspace(desktopEntries(),
                                  WaylandWorkspace::Options{test::testHome() / "tmp/none"}),
                 std::runtime_error);
    EXPECT_TRUE(SocketClients::peers("/proc/self/exe").empty());
}
