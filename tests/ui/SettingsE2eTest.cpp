// The settings window in the real program on the session's X display, driven as a person does:
// the tray menu opens it (trayer hosts the tray icon), xdotool clicks and types. A shortcut
// recorded in the window saves clips and the old one stops; "Open at login" writes and removes
// the autostart entry; a new frame rate restarts the capture once.

#include "E2eSupport.h"
#include "common/TestEnv.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcessEnvironment>
#include <QSet>
#include <QSettings>
#include <functional>
#include <gtest/gtest.h>
#include <optional>

namespace vantel {
namespace {

using namespace std::chrono_literals;
using e2e::runTool;
using e2e::waitUntil;

QString homePath(const QString& relative) {
    return QString::fromStdString(test::testHome().string()) + QLatin1Char('/') + relative;
}

QString xdotool(const QStringList& arguments) {
    return QString::fromUtf8(runTool(QStringLiteral("xdotool"), arguments)).trimmed();
}

// Whether a line of the window tree contains `text`.
bool treeHas(const QString& text) {
    return QString::fromUtf8(runTool(QStringLiteral("xwininfo"), {"-root", "-tree"}))
        .contains(text);
}

// The tray icon's embedded window: the program's window inside trayer's panel.
QString trayIconWindow() {
    const QStringList lines =
        QString::fromUtf8(runTool(QStringLiteral("xwininfo"), {"-root", "-tree"})).split('\n');
    bool inPanel = false;
    for (const QString& line : lines) {
        if (line.contains(QLatin1String("(\"panel\" \"trayer\")")))
            inPanel = true;
        else if (inPanel && line.contains(QLatin1String("(\"vantel-record\" \"vantel-record\")")))
            return line.trimmed().section(' ', 0, 0);
    }
    return {};
}

// The program's mapped windows (menus and pop-ups included).
int visibleWindows() {
    return xdotool({"search", "--onlyvisible", "--class", "vantel-record"})
        .split('\n', Qt::SkipEmptyParts)
        .size();
}

// Runs `open` (a click that pops something up) and waits until a new window of ours shows.
bool popUp(const std::function<void()>& open) {
    const int before = visibleWindows();
    open();
    return waitUntil([&] { return visibleWindows() > before; }, 5s);
}

QStringList clips() {
    QStringList found;
    QDirIterator it(homePath("clips"), {"*.mp4"}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        found << it.next();
    return found;
}

QStringList runFolders() {
    return QDir(homePath("cache/vantel-record"))
        .entryList({"vantel-record-*"}, QDir::Dirs | QDir::NoDotAndDotDot);
}

class SettingsInProgram : public ::testing::Test {
protected:
    void SetUp() override {
        if (!qEnvironmentVariableIsSet("DISPLAY"))
            GTEST_SKIP() << "needs the X session of tests/e2e/session.sh";
        QDir(homePath("clips")).removeRecursively();
        QFile::remove(homePath("config/autostart/vantel-record.desktop"));
        QFile::remove(homePath("config/vantel-record/settings.ini"));
        QSettings ini(settingsFile(), QSettings::IniFormat);
        ini.setValue("onboarded", true);
        ini.setValue("mode", "always");
        ini.setValue("folder", homePath("clips"));
        ini.sync();
        runTool(QStringLiteral("setxkbmap"), {"-layout", "us"});
        m_tray.emplace(QStringLiteral("trayer"),
                       QStringList{"--edge", "top", "--align", "right", "--widthtype", "request",
                                   "--height", "30", "--SetDockType", "true", "--transparent",
                                   "false"});
        ASSERT_TRUE(waitUntil([] { return treeHas("(\"panel\" \"trayer\")"); }, 10s));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        // No request leaves the machine: the update check meets a closed port.
        env.insert("VANTEL_SITE_URL", "http://127.0.0.1:9/");
        QDir().mkpath(homePath("run"));
        env.insert("XDG_RUNTIME_DIR", homePath("run"));
        m_program.emplace(QStringLiteral(VANTEL_PROGRAM), QStringList{}, env);
        ASSERT_TRUE(waitUntil([] { return !trayIconWindow().isEmpty(); }, 20s)) << "no tray icon";
    }

    void TearDown() override {
        m_program.reset();
        m_tray.reset();
    }

    static QString settingsFile() { return homePath("config/vantel-record/settings.ini"); }
    static QVariant stored(const char* key) {
        return QSettings(settingsFile(), QSettings::IniFormat).value(QLatin1String(key));
    }

    static QString status() {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        QProcess p;
        env.insert("XDG_RUNTIME_DIR", homePath("run"));
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(VANTEL_PROGRAM), {"status"});
        p.waitForFinished(10000);
        return QString::fromUtf8(p.readAllStandardOutput());
    }

    // Opens the settings window from the tray menu: its last items are "Settings…" and "Quit".
    QString openSettings() {
        for (int attempt = 0; attempt < 3; ++attempt) {
            const QString icon = trayIconWindow();
            if (!popUp([&] { xdotool({"mousemove", "--window", icon, "10", "10", "click", "3"}); }))
                continue;
            xdotool({"key", "Up", "Up", "Return"});
            QString window;
            if (waitUntil(
                    [&] {
                        window = xdotool({"search", "--name", "^Vantel Record Settings$"})
                                     .section('\n', 0, 0);
                        return !window.isEmpty();
                    },
                    5s)) {
                runTool(QStringLiteral("sleep"), {"0.5"});
                return window;
            }
            xdotool({"key", "Escape"});
        }
        ADD_FAILURE() << "the settings window did not open";
        return {};
    }

    // Clicks at a point of the window's client area (the window's fixed layout at 560 x 680).
    static void clickAt(const QString& window, int x, int y) {
        xdotool({"mousemove", "--window", window, QString::number(x), QString::number(y), "click",
                 "1"});
    }

    std::optional<e2e::Child> m_tray;
    std::optional<e2e::Child> m_program;
};

TEST_F(SettingsInProgram, RecordedShortcutSavesClipsAndTheOldOneDoesNothing) {
    // The buffer exists (and says "0 s ready") before its first segment is written; a save
    // asked for then rightly answers that nothing is recorded yet.
    ASSERT_TRUE(waitUntil(
        [] {
            const QString ready = status().section('\n', 1, 1);
            return ready.contains(" s ready") && ready.section(' ', 0, 0).toInt() >= 2;
        },
        30s))
        << status().toStdString();
    const QString window = openSettings();
    ASSERT_FALSE(window.isEmpty());
    clickAt(window, 437, 526); // "Save clip shortcut"
    runTool(QStringLiteral("sleep"), {"0.3"});
    xdotool({"key", "ctrl+shift+s"});
    ASSERT_TRUE(waitUntil([] { return stored("hkMods").toInt() == 0x1200; }, 5s))
        << "the recorder did not store Ctrl+Shift+S";
    EXPECT_EQ(stored("hkCode").toInt(), 1);
    EXPECT_TRUE(clips().isEmpty());

    xdotool({"key", "ctrl+shift+s"});
    ASSERT_TRUE(waitUntil([] { return clips().size() == 1; }, 30s)) << "the new keys saved nothing";
    xdotool({"key", "alt+shift+c"});
    waitUntil([] { return clips().size() > 1; }, 5s);
    EXPECT_EQ(clips().size(), 1) << "the old keys still saved a clip";
}

TEST_F(SettingsInProgram, OpenAtLoginWritesAndRemovesTheAutostartEntry) {
    const QString entry = homePath("config/autostart/vantel-record.desktop");
    const QString window = openSettings();
    ASSERT_FALSE(window.isEmpty());
    xdotool({"mousemove", "--window", window, "280", "300", "click", "--repeat", "25", "5"});
    runTool(QStringLiteral("sleep"), {"0.5"});
    clickAt(window, 496, 635); // "Open at login", the last row
    ASSERT_TRUE(waitUntil([&] { return QFile::exists(entry); }, 5s)) << "no autostart entry";
    QFile file(entry);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll().contains("Exec="));
    clickAt(window, 496, 635);
    EXPECT_TRUE(waitUntil([&] { return !QFile::exists(entry); }, 5s)) << "the entry stayed";
}

TEST_F(SettingsInProgram, NewFrameRateRestartsTheCaptureOnce) {
    ASSERT_TRUE(waitUntil([] { return runFolders().size() == 1; }, 30s));
    const QString first = runFolders().first();
    const QString window = openSettings();
    ASSERT_FALSE(window.isEmpty());
    ASSERT_TRUE(popUp([&] { clickAt(window, 400, 185); })) // "Frame rate", showing 60 fps
        << "the frame rate list did not open";
    xdotool({"key", "Up", "Return"});
    ASSERT_TRUE(waitUntil([] { return stored("fps").toInt() == 30; }, 5s));

    // Every run folder seen from now on: the old one, then exactly one new one.
    QSet<QString> seen{first};
    auto look = [&] {
        for (const QString& folder : runFolders())
            seen.insert(folder);
    };
    waitUntil(
        [&] {
            look();
            return seen.size() > 1 && status().contains("30 fps");
        },
        20s);
    waitUntil(
        [&] {
            look();
            return false;
        },
        4s);
    EXPECT_EQ(seen.size(), 2) << "the capture restarted " << seen.size() - 1 << " times";
    EXPECT_EQ(runFolders().size(), 1) << runFolders().join(' ').toStdString();
    EXPECT_FALSE(runFolders().contains(first));
    EXPECT_TRUE(status().contains("30 fps")) << status().toStdString();
}

} // namespace
} // namespace vantel
