// The wake trigger against a stand-in logind on a private system bus: resuming signals once,
// suspending does not, and the same signal from another sender is ignored.

#include "platform/freedesktop/SleepWatcher.h"

#include "SystemBus.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <gtest/gtest.h>

namespace vantel::platform {
namespace {

// Runs the event loop until `count` reaches `n` or five seconds pass, then a little longer so
// that a signal too many would arrive too.
int settle(const int& count, int n) {
    QElapsedTimer clock;
    clock.start();
    while (count < n && clock.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    clock.restart();
    while (clock.elapsed() < 300)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return count;
}

TEST(SleepWatcher, ResumingFromLogindSignalsWokeAndNothingElseDoes) {
    e2e::PrivateSystemBus bus;
    e2e::StandInLogind logind;
    SleepWatcher watcher;
    ASSERT_TRUE(watcher.active());
    int woke = 0;
    QObject::connect(&watcher, &SleepWatcher::woke, [&] { ++woke; });

    logind.sleep();
    EXPECT_EQ(settle(woke, 1), 0) << "going to sleep is not waking";
    logind.wake();
    EXPECT_EQ(settle(woke, 1), 1);

    // Anyone may send a signal with logind's names; only logind's own counts.
    QProcess::execute("dbus-send",
                      {"--system", "--type=signal", "/org/freedesktop/login1",
                       "org.freedesktop.login1.Manager.PrepareForSleep", "boolean:false"});
    EXPECT_EQ(settle(woke, 2), 1);
    logind.wake();
    EXPECT_EQ(settle(woke, 2), 2);
}

} // namespace
} // namespace vantel::platform
