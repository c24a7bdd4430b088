// The "clip saved" sound through libcanberra into the session's PulseAudio null sink, recorded
// from the sink's monitor: it plays to the end at the theme file's level; an unknown event
// reports failure and plays nothing.

#include "E2eSupport.h"
#include "common/TestEnv.h"
#include "platform/freedesktop/EventSound.h"

#include <QProcess>
#include <atomic>
#include <chrono>
#include <csignal>
#include <gtest/gtest.h>

namespace vantel::platform {
namespace {

using namespace std::chrono_literals;

// Records the sink "game" until stopped; the peak level of what arrived.
class MonitorRecording {
public:
    MonitorRecording()
        : m_file(QString::fromStdString((test::testHome() / "tmp" / "sound.wav").string())) {
        m_parec.start("parec", {"-d", "game.monitor", "--latency-msec=20", "--format=s16le",
                                "--rate=48000", "--channels=2", "--file-format=wav", m_file});
        m_parec.waitForStarted();
        e2e::waitUntil([] { return false; }, 500ms);
    }
    double stopAndPeak() {
        e2e::waitUntil([] { return false; }, 600ms);
        ::kill(pid_t(m_parec.processId()), SIGINT);
        m_parec.waitForFinished(5000);
        QByteArray stats;
        e2e::runTool("sox", {m_file, "-n", "stat"}, &stats);
        const int at = stats.indexOf("Maximum amplitude:");
        return at < 0 ? -1 : stats.mid(at + 18).split('\n').first().trimmed().toDouble();
    }

private:
    QString m_file;
    QProcess m_parec;
};

TEST(EventSound, ScreenCapturePlaysToTheEndIntoTheSoundServer) {
    MonitorRecording recording;
    std::atomic<int> result{-1};
    EventSound::play("screen-capture", [&](bool played) { result = played ? 1 : 0; });
    ASSERT_TRUE(e2e::waitUntil([&] { return result != -1; }, 10s));
    EXPECT_EQ(result, 1);
    EXPECT_GT(recording.stopAndPeak(), 0.3);
}

TEST(EventSound, AnUnknownEventPlaysNothingAndSaysSo) {
    MonitorRecording recording;
    std::atomic<int> result{-1};
    EventSound::play("no-such-event-anywhere", [&](bool played) { result = played ? 1 : 0; });
    ASSERT_TRUE(e2e::waitUntil([&] { return result != -1; }, 10s));
    EXPECT_EQ(result, 0);
    EXPECT_LT(recording.stopAndPeak(), 0.01);
}

} // namespace
} // namespace vantel::platform
