// The first-run window: its texts, the permission area following the permission every second
// and the answer of the desktop's dialog, what "Start" and "Later" store and write, closing
// without a choice, and the relaunch command waiting for the old process. Leaves
// build/screenshots/welcome.png and welcome-permission.png.

#include "app/WelcomeWindow.h"

#include "common/Screenshots.h"
#include "common/TestEnv.h"
#include "platform/freedesktop/Autostart.h"
#include "settings/Settings.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCoro/QCoroTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace vantel {
namespace {

QAbstractButton* button(QWidget& window, const QString& text) {
    for (auto* b : window.findChildren<QAbstractButton*>()) {
        if (b->text() == text)
            return b;
    }
    return nullptr;
}

bool showsText(QWidget& window, const QString& text) {
    for (auto* l : window.findChildren<QLabel*>()) {
        if (l->text() == text && l->isVisibleTo(&window))
            return true;
    }
    return false;
}

class Welcome : public testing::Test {
protected:
    void SetUp() override {
        Settings::shared().store().remove("onboarded");
        QFile::remove(platform::Autostart::entryPath());
    }
    static bool onboarded() { return Settings::shared().store().value("onboarded").toBool(); }
};

TEST_F(Welcome, ExplainsTheStepsWithTheBufferLengthAndTheShortcut) {
    Settings::shared().setBufferSeconds(60);
    WelcomeWindow window({Settings::shared(), [] {
                              return true;
                          }});
    EXPECT_EQ(window.windowTitle(), "Vantel Record");
    EXPECT_EQ(window.size(), QSize(520, 470));
    EXPECT_EQ(window.minimumSize(), window.maximumSize());
    EXPECT_EQ(window.findChild<QLabel*>("step1")->text(),
              "It records quietly while you play, keeping only the last 60 seconds.");
    EXPECT_EQ(window.findChild<QLabel*>("step2")->text(),
              "Press Alt+Shift+C and that moment is saved as a clip.");
    EXPECT_EQ(window.findChild<QLabel*>("step3")->text(),
              "Trim it, then get a link that plays right inside Discord.");
    EXPECT_TRUE(showsText(window, "Instant replay for your PC"));
    EXPECT_TRUE(showsText(window, "Screen Recording is allowed"));
    ASSERT_NE(button(window, "Start"), nullptr);
    EXPECT_FALSE(button(window, "Allow Screen Recording")->isVisibleTo(&window));
    window.show();
    test::saveWidgetShot(&window, "welcome");
    Settings::shared().setBufferSeconds(30);
}

TEST_F(Welcome, PermissionAreaFollowsThePermissionWithinASecond) {
    bool permitted = false;
    WelcomeWindow window({Settings::shared(), [&] {
                              return permitted;
                          }});
    window.show();
    EXPECT_FALSE(window.granted());
    EXPECT_TRUE(button(window, "Allow Screen Recording")->isVisibleTo(&window));
    EXPECT_TRUE(button(window, "I turned it on")->isVisibleTo(&window));
    EXPECT_NE(button(window, "Later"), nullptr);
    EXPECT_FALSE(showsText(window, "Screen Recording is allowed"));
    test::saveWidgetShot(&window, "welcome-permission");

    // "Allow Screen Recording" opens the desktop's dialog once and waits for its answer.
    int asked = 0;
    window.setPermissionRequest([&]() -> QCoro::Task<bool> {
        ++asked;
        co_await QCoro::sleepFor(300ms);
        permitted = true;
        co_return true;
    });
    QAbstractButton* allow = button(window, "Allow Screen Recording");
    allow->click();
    EXPECT_FALSE(allow->isEnabled());
    allow->click();
    QElapsedTimer clock;
    clock.start();
    while (!window.granted() && clock.elapsed() < 5000)
        QTest::qWait(50);
    EXPECT_TRUE(window.granted());
    EXPECT_EQ(asked, 1);
    EXPECT_NE(button(window, "Start"), nullptr);
    EXPECT_TRUE(showsText(window, "Screen Recording is allowed"));
}

TEST_F(Welcome, WhereTheDesktopGivesNoShortcutsStepTwoSaysHowToBindTheCommand) {
    bool needed = false;
    qputenv("XDG_CURRENT_DESKTOP", "sway");
    WelcomeWindow window({Settings::shared(), [] {
                              return true;
                          }});
    window.setBindingNeededSource([&] { return needed; });
    window.show();
    auto* hint = window.findChild<QLabel*>("bindingHint");
    ASSERT_NE(hint, nullptr);
    EXPECT_FALSE(hint->isVisible());
    needed = true;
    QElapsedTimer clock;
    clock.start();
    while (!hint->isVisible() && clock.elapsed() < 5000)
        QTest::qWait(50);
    ASSERT_TRUE(hint->isVisible()) << "the answer comes after the window opened";
    EXPECT_EQ(hint->text(), "Your desktop gives apps no global shortcuts, so bind it yourself: add "
                            "\"bindsym Alt+Shift+c exec vantel-record save\" to "
                            "~/.config/sway/config and reload sway.");
    EXPECT_LE(hint->geometry().bottom(), window.findChild<QLabel*>("step3")->geometry().top());
    EXPECT_LE(button(window, "Start")->geometry().bottom(), window.height())
        << "everything still fits the fixed window";
    test::saveWidgetShot(&window, "welcome-bind-shortcut");
    EXPECT_TRUE(WelcomeWindow::bindingSteps("ubuntu:GNOME", "Alt+Shift+C")
                    .contains("Settings › Keyboard › View and Customize Shortcuts"));
    EXPECT_TRUE(WelcomeWindow::bindingSteps("KDE", "Alt+Shift+C")
                    .contains("System Settings › Keyboard › Shortcuts › Add New"));
    qunsetenv("XDG_CURRENT_DESKTOP");
}

TEST_F(Welcome, StartStoresOnboardedOpensAtLoginAndHandsOver) {
    WelcomeWindow window({Settings::shared(), [] {
                              return true;
                          }});
    QSignalSpy started(&window, &WelcomeWindow::started);
    button(window, "Start")->click();
    EXPECT_EQ(started.size(), 1);
    EXPECT_TRUE(onboarded());
    EXPECT_TRUE(platform::Autostart::enabled());
}

TEST_F(Welcome, ReturnKeyIsStart) {
    WelcomeWindow window({Settings::shared(), [] {
                              return true;
                          }});
    QSignalSpy started(&window, &WelcomeWindow::started);
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    QTest::keyClick(&window, Qt::Key_Return);
    EXPECT_TRUE(started.wait(2000));
}

TEST_F(Welcome, LaterWithoutTheLoginBoxWritesNoAutostartEntry) {
    WelcomeWindow window({Settings::shared(), [] {
                              return false;
                          }});
    window.setOpenAtLogin(false);
    QSignalSpy started(&window, &WelcomeWindow::started);
    button(window, "Later")->click();
    EXPECT_EQ(started.size(), 1);
    EXPECT_FALSE(window.granted());
    EXPECT_TRUE(onboarded());
    EXPECT_FALSE(QFile::exists(platform::Autostart::entryPath()));
}

TEST_F(Welcome, ClosingTheWindowChoosesNothing) {
    auto* window = new WelcomeWindow({Settings::shared(), [] {
                                          return true;
                                      }});
    QSignalSpy started(window, &WelcomeWindow::started);
    window->show();
    window->close();
    delete window;
    EXPECT_EQ(started.size(), 0);
    EXPECT_FALSE(onboarded());
    EXPECT_FALSE(QFile::exists(platform::Autostart::entryPath()));
}

TEST(Relaunch, StartsTheProgramOnlyAfterTheOldProcessHasEnded) {
    const auto home = test::testHome();
    const QString marker = QString::fromStdString((home / "tmp" / "relaunched").string());
    const QString program = QString::fromStdString((home / "tmp" / "new program $1").string());
    test::writeFile(program.toStdString(),
                    "#!/bin/sh\necho \"$#\" > '" + marker.toStdString() + "'\n");
    QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    QProcess old;
    old.start("sleep", {"30"});
    ASSERT_TRUE(old.waitForStarted());
    QProcess::startDetached("/bin/sh", WelcomeWindow::relaunchArguments(old.processId(), program));
    QTest::qWait(1800);
    EXPECT_FALSE(QFile::exists(marker)) << "started while the old process still ran";
    old.kill();
    old.waitForFinished();
    QElapsedTimer clock;
    clock.start();
    while (!QFile::exists(marker) && clock.elapsed() < 5000)
        QTest::qWait(50);
    QFile made(marker);
    ASSERT_TRUE(made.open(QIODevice::ReadOnly));
    EXPECT_EQ(made.readAll().trimmed(), "0") << "started without arguments";
}

} // namespace
} // namespace vantel
