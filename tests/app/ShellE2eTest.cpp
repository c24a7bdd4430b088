// The tray program end to end, as a person and their desktop meet it: started as a child process
// in a private home on the session's X display, driven through its command line, the global
// shortcut (xdotool), its tray menu read and clicked from outside through the
// StatusNotifierItem menu (a watcher of our own, sni.py), a real tray host (trayer), a loopback
// update server and a stand-in logind.

#include "E2eSupport.h"
#include "LoopbackHttp.h"
#include "ProgramRig.h"
#include "SystemBus.h"
#include "common/Screenshots.h"
#include "common/TestEnv.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>
#include <QUuid>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <xcb/xcb.h>

namespace vantel {
namespace {

using namespace std::chrono_literals;
using e2e::runTool;
using e2e::waitUntil;
using namespace e2e::program;

TEST(Shell, AFreshHomeOpensTheWelcomeWindowAndStartHandsOverToRecording) {
    Home home;
    home.settings("mode=always\nfps=30\nmaxHeight=720\n");
    Program program(home);
    QString window;
    ASSERT_TRUE(waitUntil(
        [&] {
            window = QString::fromUtf8(runTool("xdotool", {"search", "--onlyvisible", "--name",
                                                           "^Vantel Record$"}))
                         .trimmed()
                         .section('\n', 0, 0);
            return !window.isEmpty();
        },
        30s));
    EXPECT_EQ(home.status(), QStringList{"Starting"});
    EXPECT_EQ(home.runFolders(), 0) << "nothing records before the user said so";
    QThread::msleep(500);
    screenshot("shell-welcome", window);

    runTool("xdotool", {"windowactivate", "--sync", window});
    runTool("xdotool", {"key", "--window", window, "Return"});
    ASSERT_TRUE(home.waitForStatus("Recording Desktop"));
    EXPECT_TRUE(home.settingsText().contains("onboarded=true"));
    EXPECT_TRUE(home.toasts().contains("Vantel Record is on\tAlt+Shift+C saves a clip\tok"))
        << home.toasts().join('\n').toStdString();
    EXPECT_TRUE(waitUntil(
        [&] {
            return !runTool("xdotool", {"search", "--onlyvisible", "--name", "^Vantel Record$"})
                        .contains(window.toUtf8());
        },
        10s))
        << "the welcome window closed";
}

TEST(Shell, SavesFromTheCommandLineAndTheShortcutAndDropsAPressDuringASave) {
    Home home;
    home.onboard(15);
    Program program(home);
    ASSERT_TRUE(home.waitForStatus("Recording Desktop"));
    const Outcome again = home.cli({});
    EXPECT_EQ(again.status, 0) << "a second start hands over to the running one";

    // A sign-in link opened in the browser reaches the running program through the entry.
    QProcess install;
    install.setProcessEnvironment(home.env);
    install.start(QStringLiteral(VANTEL_SOURCE_DIR "/scripts/install-entry"),
                  {QStringLiteral(VANTEL_PROGRAM)});
    ASSERT_TRUE(install.waitForFinished(30000));
    EXPECT_EQ(install.exitCode(), 0) << install.readAllStandardError().toStdString();
    QProcess query;
    query.setProcessEnvironment(home.env);
    query.start("xdg-mime", {"query", "default", "x-scheme-handler/vantelrecord"});
    query.waitForFinished(10000);
    EXPECT_EQ(query.readAllStandardOutput().trimmed(), "vantel-record.desktop");
    const Outcome link = home.cli({"vantelrecord://auth?code=abc&state=x%20y"});
    EXPECT_EQ(link.status, 0) << link.err.toStdString();
    EXPECT_EQ(home.status().value(0), "Recording Desktop") << "one instance, still recording";
    ASSERT_TRUE(home.waitForReady(7));

    const Outcome saved = home.cli({"save", "5"});
    ASSERT_EQ(saved.status, 0) << saved.err.toStdString();
    const QString clip = saved.out.trimmed();
    EXPECT_TRUE(clip.startsWith(home.path("clips") + "/Desktop/Desktop ")) << clip.toStdString();
    EXPECT_NEAR(clipSeconds(clip), 5.0, 0.1);
    EXPECT_EQ(decodeErrors(clip).toStdString(), "");

    runTool("xdotool", {"key", "alt+shift+c"});
    ASSERT_TRUE(waitUntil([&] { return home.clips().size() == 2; }, 20s));
    ASSERT_TRUE(waitUntil([&] { return home.toasts().filter("Clip saved").size() == 2; }, 10s));

    // Five presses in a burst: those that come while a save runs are dropped, without a toast.
    runTool("xdotool", {"key", "--delay", "0", "alt+shift+c", "alt+shift+c", "alt+shift+c",
                        "alt+shift+c", "alt+shift+c"});
    ASSERT_TRUE(waitUntil([&] { return home.clips().size() >= 3; }, 20s));
    QThread::msleep(2000);
    const int added = int(home.clips().size()) - 2;
    EXPECT_GE(added, 1);
    EXPECT_LT(added, 5) << "presses during a save are dropped";
    EXPECT_EQ(home.toasts().size(), 2 + added) << home.toasts().join('\n').toStdString();
    EXPECT_EQ(home.toasts().filter("Clip saved").size(), 2 + added);

    const qint64 ms = program.terminate();
    EXPECT_GE(ms, 0);
    EXPECT_LT(ms, 5000);
    EXPECT_EQ(program.exitCode(), 0);
    EXPECT_EQ(home.runFolders(), 0);
    EXPECT_EQ(home.countFiles("tmp", "snap-"), 0);
    EXPECT_EQ(home.cli({"save"}).err, "Vantel Record is not running.\n");
}

TEST(Shell, TheTrayMenuReadAndClickedFromOutsideAndPauseAcrossRestarts) {
    Watcher watcher;
    Home home;
    home.onboard(15);
    {
        Program program(home);
        const QString item = watcher.item();
        ASSERT_FALSE(item.isEmpty());
        ASSERT_TRUE(home.waitForReady(1));
        QStringList menu = watcher.menu(item);
        ASSERT_GE(menu.size(), 12) << menu.join('\n').toStdString();
        EXPECT_EQ(menu[0], "0 standard off Recording Desktop");
        EXPECT_TRUE(menu[1].startsWith("0 standard off ") &&
                    menu[1].endsWith(" s ready · 720p 30 fps"));
        EXPECT_EQ(menu.mid(2),
                  (QStringList{"0 separator on ", "0 standard on Save Clip  Alt+Shift+C",
                               "0 submenu on Save Last", "1 standard on 10 seconds",
                               "1 standard on 15 seconds", "0 standard on Pause Recording",
                               "0 separator on ", "0 standard on Clips…", "0 standard on Settings…",
                               "0 separator on ", "0 standard on Quit Vantel Record"}));

        ASSERT_TRUE(watcher.click(item, "Pause Recording"));
        ASSERT_TRUE(home.waitForStatus("Paused"));
        EXPECT_EQ(home.runFolders(), 0);
        menu = watcher.menu(item);
        EXPECT_EQ(menu.mid(0, 3), (QStringList{"0 standard off Paused", "0 separator on ",
                                               "0 standard off Save Clip  Alt+Shift+C"}));
        EXPECT_TRUE(menu.contains("1 standard off 10 seconds"));
        EXPECT_TRUE(menu.contains("0 standard on Resume Recording"));
        const Outcome refused = home.cli({"save"});
        EXPECT_EQ(refused.status, 1);
        EXPECT_EQ(refused.err, "Not recording\nPaused\n");

        QElapsedTimer clock;
        clock.start();
        ASSERT_TRUE(watcher.click(item, "Quit Vantel Record"));
        const qint64 ms = program.waitForExit(clock);
        EXPECT_GE(ms, 0);
        EXPECT_LT(ms, 5000);
    }
    EXPECT_EQ(home.runFolders(), 0);
    watcher.forget();
    home.onboard(300, "paused=true\n");
    Program program(home);
    const QString item = watcher.item();
    ASSERT_TRUE(home.waitForStatus("Paused")) << "still paused after a restart";
    EXPECT_EQ(home.runFolders(), 0);
    ASSERT_TRUE(watcher.click(item, "Resume Recording"));
    ASSERT_TRUE(home.waitForStatus("Recording Desktop"));
    EXPECT_EQ(watcher.menu(item).filter(QRegularExpression("^1 standard on ")),
              (QStringList{"1 standard on 10 seconds", "1 standard on 15 seconds",
                           "1 standard on 30 seconds", "1 standard on 1 minute",
                           "1 standard on 2 minutes", "1 standard on 5 minutes"}));
    EXPECT_TRUE(home.settingsText().contains("paused=false"));
}

TEST(Shell, AShortcutHeldByAnotherProgramIsToldOnceAndInTheStatus) {
    xcb_connection_t* other = xcb_connect(nullptr, nullptr);
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(other)).data->root;
    const uint16_t altShift = XCB_MOD_MASK_1 | XCB_MOD_MASK_SHIFT;
    std::free(
        xcb_request_check(other, xcb_grab_key_checked(other, 1, root, altShift, 54,
                                                      XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC)));
    Home home;
    home.onboard(15);
    Program program(home);
    ASSERT_TRUE(home.waitForStatus("Recording Desktop"));
    EXPECT_TRUE(home.status().contains("Alt+Shift+C is used by another program"));
    EXPECT_EQ(home.toasts(),
              QStringList{"Shortcut unavailable\tAlt+Shift+C is used by another program\tproblem"});
    std::free(xcb_request_check(other, xcb_ungrab_key_checked(other, 54, root, altShift)));
    xcb_disconnect(other);
}

TEST(Shell, TheUpdateCheckAsksTheSiteAndOnlyANewerVersionAddsTheMenuItem) {
    test::LoopbackHttp server;
    Watcher watcher;
    const auto menuWith = [&](const QByteArray& body) {
        server.body = body;
        const int before = server.requests;
        Home home;
        home.onboard(15);
        home.env.insert("VANTEL_SITE_URL", server.url(""));
        watcher.forget();
        Program program(home);
        const QString item = watcher.item();
        waitUntil([&] { return server.requests > before; }, 20s);
        home.waitForStatus("Recording Desktop");
        QThread::msleep(300);
        return watcher.menu(item).filter("Download Update");
    };
    EXPECT_EQ(menuWith(R"({"version":"1.10.0","url":"https://example.org/dl"})"),
              QStringList{"0 standard on Download Update 1.10.0…"});
    EXPECT_EQ(server.lastPath, "/app/version.json");
    EXPECT_EQ(menuWith(R"({"version":"0.1.0","url":"https://example.org/dl"})"), QStringList{});
    EXPECT_EQ(menuWith("{\"version\": \"9.9"), QStringList{});
}

TEST(Shell, AWakeFromLogindRestartsCapture) {
    e2e::PrivateSystemBus bus;
    e2e::StandInLogind logind;
    Home home;
    home.onboard(15);
    home.env.insert("DBUS_SYSTEM_BUS_ADDRESS", bus.address());
    Program program(home);
    ASSERT_TRUE(home.waitForReady(3));
    logind.sleep();
    logind.wake();
    ASSERT_TRUE(waitUntil(
        [&] {
            const QString ready = home.status().value(1);
            return ready.section(' ', 0, 0).toInt() < 3 &&
                   home.status().value(0) == "Recording Desktop";
        },
        20s))
        << "a fresh buffer after the wake";
}

TEST(Shell, TheTrayIconIsShownByARealTrayHost) {
    QProcess trayer;
    trayer.start("trayer",
                 {"--edge", "top", "--align", "right", "--widthtype", "request", "--height", "32",
                  "--SetDockType", "true", "--transparent", "false", "--tint", "0x202024"});
    ASSERT_TRUE(waitUntil(
        [] {
            return runTool("xwininfo", {"-root", "-tree"}).contains("(\"panel\" \"trayer\")");
        },
        10s));
    Home home;
    home.onboard(15);
    Program program(home);
    ASSERT_TRUE(home.waitForReady(3));
    QString tree;
    ASSERT_TRUE(waitUntil(
        [&] {
            tree = QString::fromUtf8(runTool("xwininfo", {"-root", "-tree"}));
            return tree.contains("\"vantel-record\"");
        },
        10s));
    QThread::msleep(800);
    const QString geometry =
        QString::fromUtf8(runTool("xdotool", {"getdisplaygeometry"})).trimmed();
    const int width = geometry.section(' ', 0, 0).toInt();
    screenshot("shell-tray-icon", "root", QStringLiteral("200x40+%1+0").arg(width - 200));
    const QImage shot(test::screenshotDir() + "/shell-tray-icon.png");
    int red = 0;
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x) {
            const QColor c = shot.pixelColor(x, y);
            red += c.red() > 180 && c.green() < 110 && c.blue() < 110;
        }
    EXPECT_GT(red, 10) << "the recording dot is drawn in the tray";

    runTool("xdotool", {"mousemove", QString::number(width - 12), "16", "click", "3"});
    QThread::msleep(1200);
    screenshot("shell-tray-menu", "root", QStringLiteral("420x360+%1+0").arg(width - 420));
    runTool("xdotool", {"key", "Escape"});
    trayer.kill();
    trayer.waitForFinished(5000);
}

} // namespace
} // namespace vantel
