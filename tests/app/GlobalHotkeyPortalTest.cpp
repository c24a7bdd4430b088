// The save shortcut on a Wayland desktop, through a stand-in of the desktop's global shortcuts
// portal (shortcuts_portal.py) on a private session bus: bound once with the stored shortcut as
// the preferred trigger, a press runs the action, a changed shortcut closes the old session and
// binds the new trigger once; a refused bind, also through the program's shortcut, and a desktop
// without the portal.

#include "SystemBus.h"
#include "app/GlobalHotkey.h"
#include "platform/hotkeys/wayland/GlobalShortcutsPortal.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <chrono>
#include <cstdlib>
#include <gtest/gtest.h>

namespace vantel {
namespace {

using namespace std::chrono_literals;
constexpr const char* kName = "org.vantel.TestShortcuts";
using Triggers = QMap<QString, QString>;

bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 20s) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < limit.count())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

// The stand-in portal and what it printed.
class StandInPortal {
public:
    StandInPortal() {
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start("/usr/bin/python3", {VANTEL_PORTAL_SCRIPT, kName});
        EXPECT_TRUE(waitUntil([&] { return lines().contains("READY"); }));
    }
    ~StandInPortal() {
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(5000))
            m_process.kill();
    }
    QStringList lines() {
        m_seen += QString::fromUtf8(m_process.readAllStandardOutput());
        return m_seen.split('\n', Qt::SkipEmptyParts);
    }
    QStringList linesStarting(const QString& word) {
        return lines().filter(QRegularExpression("^" + word + " "));
    }
    void send(const QByteArray& line) { m_process.write(line + "\n"); }

private:
    QProcess m_process;
    QString m_seen;
};

class GlobalHotkeyPortal : public testing::Test {
protected:
    static void SetUpTestSuite() {
        s_bus = new e2e::PrivateSessionBus;
        GlobalHotkey::useGrabber({platform::HotkeyConfig::Choice::portal, kName});
        setenv("XKB_DEFAULT_LAYOUT", "us", 1);
    }
    static void TearDownTestSuite() { delete s_bus; }
    static e2e::PrivateSessionBus* s_bus;
};
e2e::PrivateSessionBus* GlobalHotkeyPortal::s_bus = nullptr;

TEST_F(GlobalHotkeyPortal, BoundOnceWithTheShortcutAsTriggerAndReboundWhenItChanges) {
    StandInPortal portal;
    int saves = 0, newSaves = 0;
    auto first = std::make_unique<GlobalHotkey>(Hotkey::defaultSave(), [&] { ++saves; });
    EXPECT_TRUE(first->registered());
    ASSERT_TRUE(waitUntil([&] { return portal.linesStarting("BOUND").size() == 1; }));
    const QStringList bound = portal.linesStarting("BOUND").first().split(' ');
    const QString session = bound.value(1);
    EXPECT_EQ(bound.mid(2).join(' '), "ALT+SHIFT+c ALT+SHIFT+c Save a clip");

    portal.send("activate ALT+SHIFT+c");
    ASSERT_TRUE(waitUntil([&] { return saves == 1; })) << portal.lines().join("\n").toStdString();

    // The shortcut changes: the old object goes, a new one comes, as the shell rebinds.
    first.reset();
    GlobalHotkey second(Hotkey{101, Hotkey::kCtrl}, [&] { ++newSaves; });
    ASSERT_TRUE(waitUntil([&] { return portal.linesStarting("BOUND").size() == 2; }));
    EXPECT_TRUE(portal.lines().contains("CLOSED " + session));
    EXPECT_EQ(portal.linesStarting("BOUND").last().section(' ', 2), "CTRL+F9 CTRL+F9 Save a clip");
    EXPECT_EQ(portal.linesStarting("SESSION").size(), 2) << "one session per bind, no more";
    portal.send("activate CTRL+F9");
    ASSERT_TRUE(waitUntil([&] { return newSaves == 1; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(saves, 1) << "the old action stays quiet";
    EXPECT_FALSE(GlobalHotkey::desktopBindingNeeded());
}

TEST_F(GlobalHotkeyPortal, ARefusedBindAndADesktopWithoutThePortal) {
    StandInPortal portal;
    platform::GlobalShortcutsPortal client(kName);
    QSignalSpy answers(&client, &platform::GlobalShortcutsPortal::bound);
    portal.send("refuse");
    QCoreApplication::processEvents();
    client.bind({{"save", "Save a clip", "ALT+SHIFT+c"}});
    ASSERT_TRUE(waitUntil([&] { return answers.size() == 1; }));
    EXPECT_TRUE(answers.first().first().value<Triggers>().isEmpty());
    client.bind({{"save", "Save a clip", "ALT+SHIFT+c"}});
    ASSERT_TRUE(waitUntil([&] { return answers.size() == 2; }));
    EXPECT_EQ(answers.last().first().value<Triggers>().value("save"), "ALT+SHIFT+c");
    EXPECT_EQ(client.availability(), platform::GlobalShortcutsPortal::Availability::available);

    // Through the shortcut the program keeps: registered at first (the desktop answers later),
    // then refused, and said so once.
    client.bind({});
    portal.send("refuse");
    QCoreApplication::processEvents();
    int refusals = 0, presses = 0;
    GlobalHotkey hotkey(Hotkey{101, Hotkey::kAlt}, [&] { ++presses; });
    hotkey.onRefused([&] { ++refusals; });
    EXPECT_TRUE(hotkey.registered()) << "no answer yet";
    ASSERT_TRUE(waitUntil([&] { return refusals == 1; }))
        << portal.lines().join("\n").toStdString();
    EXPECT_FALSE(hotkey.registered());
    waitUntil([] { return false; }, 300ms);
    EXPECT_EQ(refusals, 1);
    EXPECT_TRUE(portal.linesStarting("BOUND").filter("ALT+F9").isEmpty());

    platform::GlobalShortcutsPortal missing(QStringLiteral("org.vantel.NobodyHere"));
    ASSERT_TRUE(waitUntil([&] {
        return missing.availability() == platform::GlobalShortcutsPortal::Availability::missing;
    }));
}

} // namespace
} // namespace vantel
