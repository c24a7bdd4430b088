// The tray program on a Wayland desktop (the headless sway of session.sh --wayland), as a player
// meets it there: started with Qt's Wayland platform, its tray item and menu read by a
// StatusNotifierWatcher of our own (sni.py), its save shortcut bound through a stand-in global
// shortcuts portal (shortcuts_portal.py) and pressed there, its toasts shown by a notification
// server of our own in this process, and the games it records: one native Wayland client and one
// through Xwayland, each saved into its own folder; and a shortcut the desktop refuses.

#include "E2eSupport.h"
#include "common/TestEnv.h"

#include <QDBusConnection>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QUuid>
#include <gtest/gtest.h>

namespace vantel {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using e2e::runTool;
using e2e::waitUntil;

constexpr const char* kPortalName = "org.vantel.TestShortcuts";

// A notification server that records what it is asked to show and hands out ids.
class Notifications : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Shown {
        uint replaces;
        QString summary;
        QString body;
        uint id;
    };
    QList<Shown> shown;

    Notifications() {
        QDBusConnection bus = QDBusConnection::sessionBus();
        EXPECT_TRUE(bus.registerObject("/org/freedesktop/Notifications", this,
                                       QDBusConnection::ExportAllSlots));
        EXPECT_TRUE(bus.registerService("org.freedesktop.Notifications"));
    }
    ~Notifications() override {
        QDBusConnection::sessionBus().unregisterService("org.freedesktop.Notifications");
        QDBusConnection::sessionBus().unregisterObject("/org/freedesktop/Notifications");
    }
    QStringList titles() const {
        QStringList out;
        for (const Shown& s : shown)
            out << s.summary;
        return out;
    }

public slots:
    uint Notify(const QString&, uint replaces, const QString&, const QString& summary,
                const QString& body, const QStringList&, const QVariantMap&, int) {
        const uint id = replaces ? replaces : uint(100 + shown.size());
        shown.append({replaces, summary, body, id});
        return id;
    }
    QStringList GetCapabilities() { return {"body"}; }
};

// A python stand-in (sni.py or shortcuts_portal.py) and what it printed.
class Script {
public:
    explicit Script(const QStringList& arguments) {
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start("/usr/bin/python3", arguments);
        EXPECT_TRUE(waitUntil([&] { return lines().contains("READY"); }, 10s));
    }
    ~Script() {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
    QStringList lines() {
        m_seen += QString::fromUtf8(m_process.readAllStandardOutput());
        return m_seen.split('\n', Qt::SkipEmptyParts);
    }
    QStringList starting(const QString& word) {
        return lines().filter(QRegularExpression("^" + word + " "));
    }
    void send(const QByteArray& line) {
        m_process.write(line + "\n");
        m_process.waitForBytesWritten(2000);
    }

private:
    QProcess m_process;
    QString m_seen;
};

QStringList sni(const QStringList& arguments) {
    return QString::fromUtf8(
               runTool("/usr/bin/python3", QStringList{VANTEL_SNI_SCRIPT} + arguments))
        .split('\n', Qt::SkipEmptyParts);
}

// The program's own folders; the session's runtime folder stays (the compositor, the bus and
// the sound server live there).
struct Home {
    fs::path root = test::testHome() /
                    ("home-" + QUuid::createUuid().toString(QUuid::Id128).left(8).toStdString());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();

    Home() {
        for (const char* sub :
             {"config/vantel-record", "data/applications", "cache", "clips", "tmp"})
            fs::create_directories(root / sub);
        env.insert("HOME", path(""));
        env.insert("XDG_CONFIG_HOME", path("config"));
        env.insert("XDG_DATA_HOME", path("data"));
        env.insert("XDG_CACHE_HOME", path("cache"));
        env.insert("TMPDIR", path("tmp"));
        env.insert("VANTEL_SITE_URL", "http://127.0.0.1:1/");
        env.insert("VANTEL_SHORTCUTS_PORTAL", kPortalName);
        env.insert("NO_AT_BRIDGE", "1");
        env.insert("DISPLAY", e2e::xwaylandDisplay());
        // Key names from xkbcommon's default layout: the session's only keyboard is a virtual
        // one whose keymap holds no letters, and Xwayland shows that keymap.
        env.insert("VANTEL_KEYBOARD_LAYOUT", "names");
    }
    QString path(const char* sub) const { return QString::fromStdString((root / sub).string()); }
    void entry(const std::string& id, const std::string& name, const std::string& exec) const {
        test::writeFile(root / "data/applications" / (id + ".desktop"),
                        "[Desktop Entry]\nType=Application\nName=" + name + "\nExec=" + exec +
                            "\nCategories=Game;\n");
    }
    QString cli(const QStringList& arguments, int* status = nullptr) const {
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(VANTEL_PROGRAM), arguments);
        p.waitForFinished(60000);
        if (status)
            *status = p.exitCode();
        return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
    }
    QString statusLine() const { return cli({"status"}).section('\n', 0, 0); }
    bool waitForReady(int seconds) const {
        return waitUntil(
            [&] {
                const QString ready = cli({"status"}).section('\n', 1, 1);
                return ready.contains(" s ready") && ready.section(' ', 0, 0).toInt() >= seconds;
            },
            60s);
    }
    QStringList clipsOf(const QString& game) const {
        return QDir(path("clips") + "/" + game).entryList({"*.mp4"}, QDir::Files);
    }
};

bool windowShown(const QString& title) {
    return runTool("swaymsg", {"-t", "get_tree"}).contains("\"name\": \"" + title.toUtf8() + "\"");
}

TEST(WaylandDesktop, TrayShortcutToastsAndBothKindsOfGame) {
    Notifications notifications;
    Home home;
    ASSERT_FALSE(home.env.value("DISPLAY").isEmpty()) << "sway's Xwayland did not answer";
    home.entry("org.vantel.NativeRacer", "Native Racer", "vantel-test-game --race");
    home.entry("org.vantel.XRacer", "X Racer", "x-racer");
    test::writeFile(home.root / "config/vantel-record/settings.ini",
                    "[General]\nmode=games\nfps=30\nmaxHeight=360\nbufferSeconds=10\nfolder=" +
                        home.path("clips").toStdString() + "\n");

    // The first start, on a desktop with neither a tray host nor the shortcut portal (the
    // session's real portal lacks it): the welcome window tells how to bind the command, and
    // the program records without a tray icon.
    {
        QProcessEnvironment env = home.env;
        env.remove("VANTEL_SHORTCUTS_PORTAL");
        e2e::Child first(VANTEL_PROGRAM, {}, env);
        ASSERT_TRUE(waitUntil([] { return windowShown("Vantel Record"); }, 20s));
        waitUntil([] { return false; }, 1500ms); // the window asks again every second
        QDir().mkpath(VANTEL_SCREENSHOT_DIR);
        runTool("grim", {"-o", "HEADLESS-1", VANTEL_SCREENSHOT_DIR "/wayland-welcome.png"});
        runTool("wtype", {"-k", "space"}); // "Allow Screen Recording"
        ASSERT_TRUE(waitUntil(
            [&] {
                QFile f(home.path("config/vantel-record/settings.ini"));
                return f.open(QIODevice::ReadOnly) && f.readAll().contains("screenCastToken=");
            },
            20s));
        waitUntil([] { return false; }, 1500ms);
        runTool("wtype", {"-k", "Return"}); // "Start"
        ASSERT_TRUE(waitUntil([&] { return home.statusLine() == "Waiting for a game"; }, 30s))
            << home.statusLine().toStdString();
        ASSERT_TRUE(waitUntil([&] { return notifications.shown.size() == 1; }, 10s));
        EXPECT_EQ(notifications.shown[0].summary, "Vantel Record is on");
        EXPECT_EQ(notifications.shown[0].body, "Alt+Shift+C saves a clip");
        EXPECT_TRUE(first.running()) << "no tray host is no reason to stop";
    }

    // The second start: a tray host, the shortcut portal, no welcome.
    Script watcher({VANTEL_SNI_SCRIPT, "watch"});
    Script portal({VANTEL_PORTAL_SCRIPT, kPortalName});
    e2e::Child program(VANTEL_PROGRAM, {}, home.env);
    ASSERT_TRUE(waitUntil([&] { return home.statusLine() == "Waiting for a game"; }, 30s))
        << home.statusLine().toStdString();
    EXPECT_FALSE(windowShown("Vantel Record"));

    // The tray item through the StatusNotifierItem protocol, its menu read from outside.
    ASSERT_TRUE(waitUntil([&] { return !watcher.starting("ITEM").isEmpty(); }, 20s));
    const QString item = watcher.starting("ITEM").last().section(' ', 1, 1);
    const QStringList menu = sni({"menu", item});
    EXPECT_EQ(menu.value(0), "0 standard off Waiting for a game") << menu.join('\n').toStdString();
    EXPECT_TRUE(menu.contains("0 standard on Quit Vantel Record")) << menu.join('\n').toStdString();

    // The save shortcut: bound once, with the stored shortcut as the preferred trigger.
    ASSERT_TRUE(waitUntil([&] { return !portal.starting("BOUND").isEmpty(); }, 20s));
    EXPECT_EQ(portal.starting("BOUND").first().section(' ', 2),
              "ALT+SHIFT+c ALT+SHIFT+c Save a clip");
    portal.send("activate ALT+SHIFT+c");
    ASSERT_TRUE(waitUntil([&] { return notifications.shown.size() == 2; }, 20s));
    EXPECT_EQ(notifications.shown[1].summary, "Not recording");
    EXPECT_EQ(notifications.shown[1].body, "Waiting for a game");

    // A native Wayland game, saved with the shortcut.
    e2e::Child native = e2e::startWaylandGame({"--app-id", "org.vantel.NativeRacer"});
    ASSERT_TRUE(waitUntil([&] { return home.statusLine() == "Recording Native Racer"; }, 60s))
        << home.statusLine().toStdString();
    ASSERT_TRUE(home.waitForReady(2));
    portal.send("activate ALT+SHIFT+c");
    ASSERT_TRUE(waitUntil([&] { return home.clipsOf("Native Racer").size() == 1; }, 30s));
    ASSERT_TRUE(waitUntil([&] { return notifications.titles().contains("Clip saved"); }, 10s));
    const auto saved = notifications.shown.last();
    EXPECT_TRUE(saved.body.startsWith("Native Racer · 0:")) << saved.body.toStdString();
    EXPECT_EQ(saved.replaces, notifications.shown[1].id) << "replaces the earlier toast";

    // A game through Xwayland, which has the focus now, saved from the command line.
    e2e::Child xgame =
        e2e::startXwaylandGame({"--app-id", "org.vantel.XRacer", "--class", "XRacer"});
    ASSERT_TRUE(waitUntil([&] { return home.statusLine() == "Recording X Racer"; }, 60s))
        << home.statusLine().toStdString();
    ASSERT_TRUE(home.waitForReady(2));
    int status = -1;
    const QString clip = home.cli({"save", "2"}, &status);
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(clip.startsWith(home.path("clips") + "/X Racer/")) << clip.toStdString();
    EXPECT_EQ(home.clipsOf("X Racer").size(), 1);

    // Quit from the tray menu.
    sni({"click", item, "Quit Vantel Record"});
    EXPECT_TRUE(waitUntil([&] { return !program.running(); }, 20s));

    // A start where the desktop refuses the shortcut (the user cancels its dialog): told at once
    // and in the status, never taken for a shortcut that works.
    {
        portal.send("refuse");
        const QString problem = "Alt+Shift+C was not allowed by the desktop";
        const qsizetype before = notifications.shown.size();
        e2e::Child refused(VANTEL_PROGRAM, {}, home.env);
        ASSERT_TRUE(waitUntil(
            [&] { return notifications.titles().mid(before).contains("Shortcut unavailable"); },
            30s));
        EXPECT_EQ(notifications.shown.last().body, problem);
        EXPECT_TRUE(waitUntil([&] { return home.cli({"status"}).contains(problem); }, 10s))
            << home.cli({"status"}).toStdString();
    }

    // The desktop is left as it was found, for the tests after this one.
    xgame.stop();
    native.stop();
    const QString shot = QString::fromStdString((home.root / "tmp/after.png").string());
    EXPECT_TRUE(waitUntil(
        [&] {
            runTool("grim", {"-o", "HEADLESS-1", shot});
            return runTool("convert", {shot, "-format", "%[pixel:p{640,360}]", "info:"}) ==
                   "srgb(32,64,96)";
        },
        10s))
        << "the background shows again";
}

} // namespace
} // namespace vantel

#include "WaylandDesktopE2eTest.moc"
