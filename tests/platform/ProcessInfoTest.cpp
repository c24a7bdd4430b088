// Process facts from /proc, for this process, a real child and a fake proc tree, and the
// application identity built from them and the desktop entries.

#include "platform/procfs/ProcessInfo.h"

#include "common/TestEnv.h"
#include "platform/freedesktop/KeyFile.h"
#include "platform/workspace/AppResolver.h"

#include <QProcess>
#include <chrono>
#include <fcntl.h>
#include <future>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace vantel::platform;
using vantel::test::testHome;
using vantel::test::writeFile;

TEST(ProcessInfo, ReadsThisProcessAndARealChild) {
    ProcessFacts self = ProcessInfo::read(getpid());
    EXPECT_TRUE(self.exists);
    EXPECT_EQ(self.executable, fs::read_symlink("/proc/self/exe"));
    EXPECT_EQ(self.executableName(), "platform_process_test");
    EXPECT_FALSE(self.flatpak.has_value());

    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("SteamGameId", "570");
    child.setProcessEnvironment(env);
    child.start("sleep", {"30"});
    ASSERT_TRUE(child.waitForStarted());
    ProcessFacts facts = ProcessInfo::read(int32_t(child.processId()));
    EXPECT_TRUE(facts.exists);
    EXPECT_TRUE(facts.steamGame);
    EXPECT_EQ(facts.executableName(), "sleep");
    const int32_t pid = int32_t(child.processId());
    child.kill();
    child.waitForFinished();
    EXPECT_FALSE(ProcessInfo::read(pid).exists);
    EXPECT_FALSE(ProcessInfo::exists(0));
}

TEST(ProcessInfo, EnvironmentBlockMatchesWholeNamesOnly) {
    using namespace std::string_literals;
    EXPECT_TRUE(ProcessInfo::environHas("A=1\0SteamGameId=7\0"s, "SteamGameId"));
    EXPECT_TRUE(ProcessInfo::environHas("SteamGameId=\0"s, "SteamGameId"));
    EXPECT_FALSE(ProcessInfo::environHas("SteamGameIdX=1\0XSteamGameId=1\0"s, "SteamGameId"));
    EXPECT_FALSE(ProcessInfo::environHas("A=SteamGameId=1\0"s, "SteamGameId"));
    EXPECT_FALSE(ProcessInfo::environHas(""s, "SteamGameId"));
}

namespace {

// A /proc of three processes: a Flatpak game, a native game known by its window class, and an
// unknown tool whose binary was replaced while it ran.
struct FakeProc {
    fs::path root = testHome() / "proc";
    fs::path apps = testHome() / "apps/applications";

    void process(int pid, const fs::path& exe, const std::string& environ) {
        fs::path dir = root / std::to_string(pid);
        fs::create_directories(dir / "root");
        fs::create_symlink(exe, dir / "exe");
        writeFile(dir / "environ", environ);
        writeFile(dir / "comm", exe.filename().string() + "\n");
    }

    FakeProc() {
        fs::remove_all(root);
        using namespace std::string_literals;
        process(100, "/app/bin/sober", "PATH=/app/bin\0"s);
        writeFile(root / "100/root/.flatpak-info",
                  "[Application]\nname=org.vinegarhq.Sober\nruntime=runtime/x/y\n\n[Instance]\n"
                  "app-path=/var/lib/flatpak/app/org.vinegarhq.Sober/x86_64/stable/abc/files\n");
        process(200, "/home/u/Games/racer/racer-bin", "SteamGameId=42\0HOME=/home/u\0"s);
        process(300, "/usr/bin/tool (deleted)", "");
        process(400, "/usr/bin/self", "");
        writeFile(apps / "org.vinegarhq.Sober.desktop",
                  "[Desktop Entry]\nType=Application\nName=Sober\nCategories=Game;\n");
        writeFile(apps / "racer.desktop", "[Desktop Entry]\nType=Application\nName=Racer\n"
                                          "StartupWMClass=RacerWindow\nCategories=Game;Racing;\n");
    }
};

} // namespace

TEST(AppResolver, IdentifiesFlatpakDesktopAndUnknownPrograms) {
    FakeProc proc;
    DesktopEntries entries({proc.apps});
    entries.refreshIfChanged();
    AppResolver resolver(entries, proc.root, 400);

    RunningApp sober = resolver.describe(100, {"sober", "Sober"}, true);
    EXPECT_EQ(sober.appId, "org.vinegarhq.Sober");
    EXPECT_EQ(sober.name, "Sober");
    EXPECT_EQ(sober.bundlePath, "/var/lib/flatpak/app/org.vinegarhq.Sober/x86_64/stable/abc/files");
    EXPECT_EQ(sober.categories, QStringList{"Game"});
    EXPECT_EQ(sober.executablePath, "/app/bin/sober");
    EXPECT_TRUE(sober.regular);
    EXPECT_FALSE(sober.steamGame);

    RunningApp racer = resolver.describe(200, {"racer-bin", "RacerWindow"}, true);
    EXPECT_EQ(racer.appId, "racer");
    EXPECT_EQ(racer.name, "Racer");
    EXPECT_EQ(racer.bundlePath, QString::fromStdString((proc.apps / "racer.desktop").string()));
    EXPECT_EQ(racer.categories, (QStringList{"Game", "Racing"}));
    EXPECT_TRUE(racer.steamGame);

    RunningApp tool = resolver.describe(300, {"tool", "ToolWindow"}, true);
    EXPECT_EQ(tool.appId, "tool");
    EXPECT_EQ(tool.name, "ToolWindow");
    EXPECT_TRUE(tool.bundlePath.isEmpty());
    EXPECT_TRUE(tool.categories.isEmpty());
    EXPECT_EQ(resolver.describe(300, {}, true).name, "tool");
}

TEST(AppResolver, RegularOnlyForLivingOtherProgramsWithWindows) {
    FakeProc proc;
    DesktopEntries entries({proc.apps});
    entries.refreshIfChanged();
    AppResolver resolver(entries, proc.root, 400);
    EXPECT_FALSE(resolver.describe(400, {}, true).regular); // this program
    EXPECT_FALSE(resolver.describe(300, {}, false).regular);
    RunningApp gone = resolver.describe(999, {"x", "X"}, true);
    EXPECT_TRUE(gone.terminated);
    EXPECT_FALSE(gone.regular);
}

// Another program chooses what lies under its /proc/PID/root: the sandbox file may be a FIFO
// nobody writes (which would block the game detector's scan for good), a device without end,
// or a huge file. None of them is read; the process is simply not a Flatpak.
TEST(ProcessInfo, HostileSandboxFilesNeitherBlockNorFlood) {
    FakeProc proc;
    proc.process(500, "/usr/bin/fifo-game", "");
    const fs::path fifo = proc.root / "500/root/.flatpak-info";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    auto reading =
        std::async(std::launch::async, [&] { return ProcessInfo::read(500, proc.root); });
    if (reading.wait_for(std::chrono::seconds(3)) != std::future_status::ready) {
        // Release the blocked reader so the test can end.
        const int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (writer >= 0)
            ::close(writer);
        reading.wait();
        FAIL() << "reading a FIFO sandbox file blocked";
    }
    ProcessFacts facts = reading.get();
    EXPECT_TRUE(facts.exists);
    EXPECT_FALSE(facts.flatpak.has_value());
    EXPECT_EQ(facts.executableName(), "fifo-game");

    proc.process(600, "/usr/bin/zero-game", "");
    fs::create_symlink("/dev/zero", proc.root / "600/root/.flatpak-info");
    EXPECT_FALSE(ProcessInfo::read(600, proc.root).flatpak.has_value());

    proc.process(700, "/usr/bin/big-game", "");
    std::string big = "[Application]\nname=org.example.Big\n";
    big.resize(KeyFile::kMaxFileBytes + 1, '#');
    writeFile(proc.root / "700/root/.flatpak-info", big);
    EXPECT_FALSE(ProcessInfo::read(700, proc.root).flatpak.has_value());
    big.resize(KeyFile::kMaxFileBytes);
    writeFile(proc.root / "700/root/.flatpak-info", big);
    EXPECT_EQ(ProcessInfo::read(700, proc.root).flatpak->appId, "org.example.Big")
        << "a file at the limit is still read";
}
