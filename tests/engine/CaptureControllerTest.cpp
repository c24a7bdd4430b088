// The capture controller over a scripted capture backend and a counting segment writer: the
// states it publishes, which display and size it records, how it survives failures, and which
// samples reach the buffer.

#include "engine/CaptureController.h"

#include "common/FileSizeLimit.h"
#include "engine/RecordError.h"

#include <QCoreApplication>
#include <QCoro/QCoroTask>
#include <QElapsedTimer>
#include <QThread>
#include <QThreadPool>
#include <atomic>
#include <condition_variable>
#include <future>
#include <gtest/gtest.h>
#include <mutex>

using namespace std::chrono_literals;
using vantel::CaptureConfig;
using vantel::CaptureController;
using vantel::CaptureMode;
using vantel::GameTarget;
using vantel::platform::CaptureDisplay;
using vantel::platform::FrameStatus;
using vantel::platform::SampleHandler;
using vantel::platform::StreamConfig;
using State = CaptureController::State;
namespace media = vantel::media;

namespace vantel {
void PrintTo(const CaptureController::State& s, std::ostream* os) {
    static const char* names[] = {"recording", "error", "off", "waiting"};
    *os << names[int(s.kind)] << (s.text.empty() ? "" : "(" + s.text + ")");
}
} // namespace vantel

namespace {

struct FakeBackend;

// What became of one stream; kept by the backend after the controller drops the stream.
struct StreamLog {
    std::atomic<bool> started{false};
    std::atomic<bool> stopped{false};
    std::atomic<bool> starting{false};
    std::atomic<bool> stoppedWhileStarting{false};
};

struct FakeStream : vantel::platform::CaptureStream {
    FakeBackend& owner;
    std::shared_ptr<StreamLog> log;
    FakeStream(FakeBackend& b, std::shared_ptr<StreamLog> l)
        : owner(b)
        , log(std::move(l)) {}
    void start() override;
    void stop() override {
        if (log->starting)
            log->stoppedWhileStarting = true;
        log->stopped = true;
    }
};

struct FakeBackend : vantel::platform::CaptureBackend {
    bool permission = true;
    std::vector<CaptureDisplay> screens{{1, 0, 0, 320, 240, 1.0}, {2, 320, 0, 640, 360, 1.0}};
    std::optional<uint32_t> main = 2;
    std::string displaysError;
    std::string startError;
    std::shared_future<void> startGate;
    std::shared_future<void> displaysGate; // a display server that does not answer yet

    std::vector<StreamConfig> configs;
    std::vector<std::shared_ptr<StreamLog>> streams;
    SampleHandler* handler = nullptr;

    bool hasPermission() override { return permission; }
    std::vector<CaptureDisplay> displays() override {
        if (displaysGate.valid())
            displaysGate.wait();
        if (!displaysError.empty())
            throw std::runtime_error(displaysError);
        return screens;
    }
    std::optional<uint32_t> mainDisplay() override { return main; }
    std::unique_ptr<vantel::platform::CaptureStream> createStream(const StreamConfig& config,
                                                                  SampleHandler& h) override {
        configs.push_back(config);
        handler = &h;
        streams.push_back(std::make_shared<StreamLog>());
        return std::make_unique<FakeStream>(*this, streams.back());
    }
};

void FakeStream::start() {
    log->starting = true;
    if (owner.startGate.valid())
        owner.startGate.wait();
    log->starting = false;
    if (!owner.startError.empty())
        throw std::runtime_error(owner.startError);
    log->started = true;
}

struct WriterLog {
    std::atomic<int> starts{0}, videos{0}, gameAudio{0};
    std::atomic<bool> breakOnVideo{false};
};

class CountingWriter : public media::SegmentWriter {
public:
    explicit CountingWriter(WriterLog& log)
        : m_log(log) {}
    bool start(double) override {
        ++m_log.starts;
        m_status = Status::writing;
        return true;
    }
    bool videoReady() const override { return true; }
    bool audioReady(media::AudioTrack) const override { return true; }
    void appendVideo(const media::VideoFrame&) override {
        ++m_log.videos;
        if (m_log.breakOnVideo)
            m_status = Status::failed;
    }
    void appendAudio(media::AudioTrack track, const media::AudioChunk&) override {
        if (track == media::AudioTrack::game)
            ++m_log.gameAudio;
    }
    void finish() override { m_status = Status::finished; }
    Status status() const override { return m_status; }
    std::string error() const override { return "The encoder broke."; }

private:
    WriterLog& m_log;
    Status m_status = Status::idle;
};

media::VideoFrame frame(double pts) {
    return {media::FramePtr(av_frame_alloc()), pts};
}
media::AudioChunk sound(double pts) {
    return {std::vector<float>(960, 0.25f), 2, 48000, pts};
}

void settle(std::chrono::milliseconds span = 0ms) {
    QElapsedTimer clock;
    clock.start();
    do {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QCoreApplication::sendPostedEvents();
        if (span > 0ms)
            QThread::msleep(2);
    } while (clock.elapsed() < span.count());
}

// Runs the event loop until `done` holds or `limit` has passed; returns done().
bool settleUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < limit.count())
        settle(5ms);
    return done();
}

// A gate that a test opens itself, or that a watchdog opens after a while so that a thread
// blocked on it comes free and the test fails instead of hanging.
class Gate {
public:
    Gate()
        : m_future(m_promise.get_future().share())
        , m_watchdog(std::async(std::launch::async, [this] {
            std::unique_lock lock(m_lock);
            if (!m_opened.wait_for(lock, 3s, [this] { return m_open; })) {
                m_rescued = true;
                m_open = true;
                m_promise.set_value();
            }
        })) {}
    ~Gate() { open(); }
    void open() {
        {
            std::lock_guard lock(m_lock);
            if (m_open)
                return;
            m_open = true;
            m_promise.set_value();
        }
        m_opened.notify_all();
    }
    // Whether the watchdog had to open it: someone waited on it where nobody may.
    bool rescued() {
        std::lock_guard lock(m_lock);
        return m_rescued;
    }
    std::shared_future<void> future() const { return m_future; }

private:
    std::mutex m_lock;
    std::condition_variable m_opened;
    bool m_open = false;
    bool m_rescued = false;
    std::promise<void> m_promise;
    std::shared_future<void> m_future;
    std::future<void> m_watchdog;
};

struct Rig {
    FakeBackend* backend = new FakeBackend;
    WriterLog writes;
    CaptureConfig config;
    std::optional<GameTarget> game;
    std::vector<State> states;
    CaptureController capture{std::unique_ptr<vantel::platform::CaptureBackend>(backend)};

    explicit Rig(CaptureMode mode) {
        config.mode = mode;
        config.fps = 30;
        config.maxHeight = 0;
        config.bufferSeconds = 5;
        capture.setConfigProvider([this] { return config; });
        capture.setCurrentGameProvider([this] { return game; });
        capture.setRestartDelay(80ms);
        capture.setWriterFactory([this](const media::WriterConfig&, media::SegmentSink&) {
            return std::make_unique<CountingWriter>(writes);
        });
        capture.onState = [this](State s) {
            states.push_back(std::move(s));
        };
    }
    ~Rig() { run(capture.stop()); }

    void run(QCoro::Task<> task) {
        QCoro::waitFor(std::move(task));
        settle();
    }
    std::vector<State> take() { return std::exchange(states, {}); }
};

using States = std::vector<State>;

} // namespace

TEST(Capture, RecordsTheDesktopInAlwaysModeAndStopsCleanly) {
    Rig rig(CaptureMode::always);
    rig.run(rig.capture.sync());
    EXPECT_EQ(rig.take(), (States{State::off(), State::recording("Desktop")}));
    ASSERT_EQ(rig.backend->configs.size(), 1u);
    const StreamConfig& used = rig.backend->configs[0];
    EXPECT_EQ(used.display.id, 2u) << "the main display";
    EXPECT_EQ(used.width, 640);
    EXPECT_EQ(used.fps, 30);
    EXPECT_EQ(rig.capture.target(), GameTarget::desktop());
    ASSERT_TRUE(rig.capture.buffer());
    EXPECT_EQ(rig.capture.buffer()->height(), 360);
    EXPECT_TRUE(rig.backend->streams[0]->started);

    rig.run(rig.capture.sync());
    EXPECT_TRUE(rig.take().empty()) << "the same target again publishes nothing";
    EXPECT_EQ(rig.backend->configs.size(), 1u);

    const std::filesystem::path dir = rig.capture.buffer()->dir();
    EXPECT_TRUE(std::filesystem::exists(dir));
    rig.run(rig.capture.stop());
    EXPECT_EQ(rig.take(), States{State::off()});
    EXPECT_TRUE(rig.backend->streams[0]->stopped);
    EXPECT_FALSE(rig.capture.buffer());
    EXPECT_FALSE(rig.capture.target());
    EXPECT_FALSE(std::filesystem::exists(dir)) << "nothing recorded survives a stop";
}

TEST(Capture, FollowsTheGameAndItsDisplayInGamesMode) {
    Rig rig(CaptureMode::games);
    rig.run(rig.capture.stop());
    EXPECT_EQ(rig.take(), States{State::off()}) << "stop without a stream";
    rig.run(rig.capture.sync());
    EXPECT_EQ(rig.take(), (States{State::off(), State::waiting()}));
    EXPECT_TRUE(rig.backend->configs.empty());

    rig.game = GameTarget{"Quake", 77, 1u};
    rig.run(rig.capture.sync());
    EXPECT_EQ(rig.take(), (States{State::off(), State::recording("Quake")}));
    EXPECT_EQ(rig.backend->configs.back().display.id, 1u);

    rig.game = GameTarget{"Quake", 77, 2u};
    rig.run(rig.capture.sync());
    EXPECT_EQ(rig.backend->configs.back().display.id, 2u) << "moved: restarted on the new one";
    EXPECT_TRUE(rig.backend->streams[0]->stopped);

    rig.game = GameTarget{"Quake", 77, 99u};
    rig.run(rig.capture.sync());
    EXPECT_EQ(rig.backend->configs.back().display.id, 1u) << "an unknown display: the first";
    EXPECT_EQ(rig.capture.target(), rig.game);

    rig.game.reset();
    rig.take();
    rig.run(rig.capture.sync());
    EXPECT_EQ(rig.take(), (States{State::off(), State::waiting()}));
    EXPECT_TRUE(rig.backend->streams.back()->stopped);
}

TEST(Capture, SizesTheOutputFromTheDisplayAndMaxHeight) {
    EXPECT_EQ(CaptureController::outputSize(2560, 1600, 2.0, 1080), QSize(1728, 1080));
    EXPECT_EQ(CaptureController::outputSize(2560, 1600, 2.0, 0), QSize(5120, 3200));
    EXPECT_EQ(CaptureController::outputSize(2560, 1600, 2.0, 4000), QSize(5120, 3200));
    EXPECT_EQ(CaptureController::outputSize(1919.7, 1080.0, 1.0, 0), QSize(1918, 1080));
    EXPECT_EQ(CaptureController::outputSize(1920, 1080, 1.0, 721), QSize(1280, 720))
        << "both sides even";

    Rig rig(CaptureMode::always);
    rig.config.maxHeight = 180;
    rig.run(rig.capture.sync());
    ASSERT_EQ(rig.backend->configs.size(), 1u);
    EXPECT_EQ(rig.backend->configs[0].width, 320);
    EXPECT_EQ(rig.backend->configs[0].height, 180);
    EXPECT_EQ(rig.capture.buffer()->width(), 320);
}

TEST(Capture, RestartsOnceAfterFailuresOfARunningStream) {
    Rig rig(CaptureMode::always);
    rig.run(rig.capture.sync());
    rig.take();

    // Two failures in quick succession, one from the stream and one from the encoder.
    rig.writes.breakOnVideo = true;
    rig.backend->handler->onStreamStopped("The display went away.");
    rig.backend->handler->onVideo(frame(1.0), FrameStatus::complete);
    settle();
    EXPECT_EQ(rig.take(), States{State::error("The display went away.")});
    settle(300ms);
    EXPECT_EQ(rig.take(), (States{State::off(), State::recording("Desktop")}));
    EXPECT_EQ(rig.backend->configs.size(), 2u);

    // The restart cleared the guard: the next failure is handled again, this time the encoder's.
    rig.backend->handler->onVideo(frame(2.0), FrameStatus::complete);
    settle(300ms);
    EXPECT_EQ(rig.take(), (States{State::error("The encoder broke."), State::off(),
                                  State::recording("Desktop")}));
    EXPECT_EQ(rig.backend->configs.size(), 3u);
}

TEST(Capture, AStopCancelsThePendingAutomaticRestart) {
    Rig rig(CaptureMode::always);
    rig.run(rig.capture.sync());
    rig.backend->handler->onStreamStopped("The display went away.");
    settle();
    rig.run(rig.capture.stop());
    settle(300ms);
    EXPECT_EQ(rig.capture.state(), State::off());
    EXPECT_EQ(rig.backend->configs.size(), 1u);

    rig.run(rig.capture.sync());
    rig.backend->handler->onStreamStopped("Again.");
    settle(300ms);
    EXPECT_EQ(rig.capture.state(), State::recording("Desktop")) << "failures are handled again";
}

TEST(Capture, AFailedStartLeavesTheErrorWithoutAutomaticRestart) {
    Rig rig(CaptureMode::always);
    rig.backend->startError = "Cannot grab the screen.";
    rig.run(rig.capture.sync());
    EXPECT_EQ(rig.take(), (States{State::off(), State::error("Cannot grab the screen.")}));
    EXPECT_FALSE(rig.capture.target());
    rig.backend->handler->onStreamStopped("Late report of the dead stream.");
    settle(300ms);
    EXPECT_TRUE(rig.take().empty());
    EXPECT_EQ(rig.backend->configs.size(), 1u);

    rig.backend->startError.clear();
    rig.backend->permission = false;
    rig.run(rig.capture.sync());
    EXPECT_EQ(rig.take(),
              (States{State::off(), State::error(vantel::RecordError::permission().what())}));
    EXPECT_TRUE(rig.backend->streams[0]->stopped) << "the stored dead stream was cleaned up";

    rig.backend->permission = true;
    rig.backend->screens.clear();
    rig.run(rig.capture.restart());
    EXPECT_EQ(rig.take(), (States{State::off(), State::error("No display to record.")}));

    rig.backend->displaysError = "Cannot open display :5";
    rig.run(rig.capture.restart());
    EXPECT_EQ(rig.take(), (States{State::off(), State::error("Cannot open display :5")}));

    // A session where capture is impossible explains itself rather than blaming permission.
    rig.backend->permission = false;
    rig.backend->displaysError = "Screen capture on Wayland is not supported yet.";
    rig.run(rig.capture.restart());
    EXPECT_EQ(
        rig.take(),
        (States{State::off(), State::error("Screen capture on Wayland is not supported yet.")}));
}

TEST(Capture, DropsARestartWhileAnotherAwaitsItsStart) {
    Rig rig(CaptureMode::games);
    std::promise<void> gate;
    rig.backend->startGate = gate.get_future().share();

    QCoro::Task<> first = rig.capture.restart(GameTarget{"First", 1, 1u});
    settle(30ms);
    rig.run(rig.capture.restart(GameTarget{"Second", 2, 2u}));
    EXPECT_EQ(rig.backend->configs.size(), 1u);

    gate.set_value();
    rig.run(std::move(first));
    EXPECT_EQ(rig.take(), (States{State::off(), State::recording("First")}));
    EXPECT_EQ(rig.capture.target(), (GameTarget{"First", 1, 1u}));
}

TEST(Capture, AStopWhileAStartRunsWaitsForItAndStaysOff) {
    Rig rig(CaptureMode::games);
    std::promise<void> gate;
    rig.backend->startGate = gate.get_future().share();

    // The user pauses while the stream of a new game is still starting.
    QCoro::Task<> restarting = rig.capture.restart(GameTarget{"Quake", 7, 1u});
    settle(30ms);
    QCoro::Task<> stopping = rig.capture.stop();
    settle(50ms);
    EXPECT_FALSE(rig.backend->streams[0]->stopped) << "never stopped while it is being started";

    gate.set_value();
    rig.run(std::move(stopping));
    rig.run(std::move(restarting));
    EXPECT_TRUE(rig.backend->streams[0]->stopped) << "taken down once its start returned";
    EXPECT_FALSE(rig.backend->streams[0]->stoppedWhileStarting);
    EXPECT_EQ(rig.take(), (States{State::off(), State::off()})) << "no recording claimed after";
    EXPECT_FALSE(rig.capture.target());
    EXPECT_FALSE(rig.capture.buffer());
}

TEST(Capture, AStreamThatDiesWhileItsStartIsAwaitedIsRestarted) {
    Rig rig(CaptureMode::games);
    std::promise<void> gate;
    rig.backend->startGate = gate.get_future().share();

    // The sample thread runs and fails before the start's completion reaches the main thread.
    QCoro::Task<> restarting = rig.capture.restart(GameTarget{"Quake", 7, 1u});
    settle(30ms);
    rig.backend->handler->onStreamStopped("The screen could not be read.");
    settle(30ms);
    gate.set_value();
    rig.run(std::move(restarting));
    settle(300ms);
    EXPECT_EQ(rig.take(), (States{State::off(), State::recording("Quake"),
                                  State::error("The screen could not be read."), State::off(),
                                  State::recording("Quake")}))
        << "a dead stream is never left showing recording";
    EXPECT_EQ(rig.backend->configs.size(), 2u);
}

TEST(Capture, FeedsOnlyCompleteFramesAndLiveAudioToTheBuffer) {
    Rig rig(CaptureMode::always);
    rig.run(rig.capture.sync());
    SampleHandler& intake = *rig.backend->handler;

    intake.onVideo(frame(0.9), FrameStatus::idle);
    intake.onVideo(frame(0.95), FrameStatus::blank);
    intake.onVideo(media::VideoFrame{}, FrameStatus::complete);
    EXPECT_EQ(rig.writes.starts, 0) << "idle, blank and empty frames never start the writer";

    intake.onVideo(frame(1.0), FrameStatus::complete);
    intake.onAudio(sound(1.0), false);
    EXPECT_EQ(rig.writes.starts, 1);
    EXPECT_EQ(rig.writes.videos, 1);
    EXPECT_EQ(rig.writes.gameAudio, 1);

    rig.run(rig.capture.stop());
    intake.onVideo(frame(2.0), FrameStatus::complete);
    intake.onAudio(sound(2.0), false);
    EXPECT_EQ(rig.writes.videos, 1) << "no buffer, nothing appended";
    EXPECT_EQ(rig.writes.gameAudio, 1);
}

TEST(Capture, ASuccessfulStartCancelsThePendingAutomaticRestart) {
    Rig rig(CaptureMode::games);
    rig.capture.setRestartDelay(400ms);
    rig.game = GameTarget{"Quake", 7, 1u};
    rig.run(rig.capture.sync());
    rig.backend->handler->onStreamStopped("The display went away.");
    settle();
    // The machine wakes at once and the application restarts the capture itself.
    rig.run(rig.capture.restart());
    EXPECT_EQ(rig.capture.state(), State::recording("Quake"));
    rig.take();
    settle(700ms);
    EXPECT_TRUE(rig.take().empty()) << "the old failure's timer tore the new run down";
    EXPECT_EQ(rig.backend->configs.size(), 2u);

    // Another game comes to the front right after a failure: sync() starts it, and stays.
    rig.backend->handler->onStreamStopped("The display went away again.");
    settle();
    rig.game = GameTarget{"Doom", 8, 2u};
    rig.run(rig.capture.sync());
    rig.take();
    settle(700ms);
    EXPECT_TRUE(rig.take().empty());
    EXPECT_EQ(rig.backend->configs.size(), 3u);
    EXPECT_EQ(rig.capture.target(), rig.game);

    rig.backend->handler->onStreamStopped("Once more.");
    settle(700ms);
    EXPECT_EQ(rig.capture.state(), State::recording("Doom")) << "failures are handled again";
    EXPECT_EQ(rig.backend->configs.size(), 4u);
}

// Saves, exports and thumbnails fill Qt's shared thread pool; starting and stopping the capture
// must not queue behind them.
TEST(Capture, StartsAndStopsWhileTheSharedThreadPoolIsBusy) {
    Gate busy;
    QThreadPool* pool = QThreadPool::globalInstance();
    for (int i = 0; i < pool->maxThreadCount() + 2; ++i)
        pool->start([gate = busy.future()] { gate.wait(); });

    Rig rig(CaptureMode::always);
    QCoro::Task<> syncing = rig.capture.sync();
    EXPECT_TRUE(
        settleUntil([&] { return rig.capture.state() == State::recording("Desktop"); }, 2s));
    QCoro::Task<> stopping = rig.capture.stop();
    EXPECT_TRUE(settleUntil(
        [&] { return !rig.backend->streams.empty() && rig.backend->streams[0]->stopped; }, 2s));
    EXPECT_FALSE(busy.rescued());
    busy.open();
    rig.run(std::move(syncing));
    rig.run(std::move(stopping));
    pool->waitForDone();
}

// Asking the display server for its monitors and creating the buffer (its run folder, stale
// folders of crashed runs, the encoder) may take long; the main thread keeps running meanwhile.
TEST(Capture, AStartNeverMakesTheMainThreadWaitForTheDisplayServerOrTheDisk) {
    Rig rig(CaptureMode::always);
    {
        Gate display;
        rig.backend->displaysGate = display.future();
        QCoro::Task<> syncing = rig.capture.sync();
        EXPECT_FALSE(display.rescued()) << "the main thread waited for the display server";
        EXPECT_EQ(rig.capture.state(), State::off());
        display.open();
        rig.run(std::move(syncing));
        EXPECT_EQ(rig.capture.state(), State::recording("Desktop"));
        rig.backend->displaysGate = {};
    }
    {
        Gate disk;
        rig.capture.setWriterFactory(
            [&, gate = disk.future()](const media::WriterConfig&, media::SegmentSink&) {
                gate.wait();
                return std::make_unique<CountingWriter>(rig.writes);
            });
        QCoro::Task<> restarting = rig.capture.restart(GameTarget{"Quake", 7, 1u});
        EXPECT_FALSE(disk.rescued()) << "the main thread waited for the buffer's creation";
        disk.open();
        rig.run(std::move(restarting));
        EXPECT_EQ(rig.capture.state(), State::recording("Quake"));
    }
}

// A stop that comes while the run is still being prepared waits for the preparation and leaves
// nothing of it behind.
TEST(Capture, AStopWhileTheRunIsPreparedLeavesNothingBehind) {
    Rig rig(CaptureMode::always);
    Gate display;
    rig.backend->displaysGate = display.future();
    QCoro::Task<> syncing = rig.capture.sync();
    QCoro::Task<> stopping = rig.capture.stop();
    display.open();
    rig.run(std::move(stopping));
    rig.run(std::move(syncing));
    EXPECT_EQ(rig.capture.state(), State::off());
    EXPECT_FALSE(rig.capture.buffer());
    ASSERT_EQ(rig.backend->streams.size(), 1u);
    EXPECT_FALSE(rig.backend->streams[0]->started) << "a stopped run never starts";
    EXPECT_TRUE(rig.backend->streams[0]->stopped);
    EXPECT_TRUE(std::filesystem::is_empty(vantel::ReplayBuffer::runRoot()))
        << "the prepared run folder was deleted";
}

// One hiccup of the sound server must not throw the buffer away: the automatic restart keeps the
// failed run's segments, in its locked folder, for saves after it. A restart the application
// asks for, and a stop, delete them.
TEST(Capture, TheAutomaticRestartKeepsTheSegmentsOfTheFailedRun) {
    Rig rig(CaptureMode::always);
    std::vector<media::SegmentSink*> sinks;
    rig.capture.setWriterFactory([&](const media::WriterConfig&, media::SegmentSink& sink) {
        sinks.push_back(&sink);
        return std::make_unique<CountingWriter>(rig.writes);
    });
    auto record = [&](double from, int seconds) {
        rig.backend->handler->onVideo(frame(from), FrameStatus::complete);
        sinks.back()->onInitSegment({'I', 'N', 'I', 'T'});
        for (int i = 0; i < seconds; ++i)
            sinks.back()->onMediaSegment({'s'}, media::SegmentTiming{from + i, 1.0});
    };
    rig.run(rig.capture.sync());
    record(1.0, 3);
    const std::filesystem::path failedRun = rig.capture.buffer()->dir();

    rig.backend->handler->onStreamStopped("The sound server went away.");
    EXPECT_TRUE(settleUntil(
        [&] {
            return rig.backend->configs.size() == 2 &&
                   rig.capture.state().kind == State::Kind::recording;
        },
        2s));
    std::shared_ptr<vantel::ReplayBuffer> buffer = rig.capture.buffer();
    ASSERT_TRUE(buffer);
    EXPECT_NE(buffer->dir(), failedRun);
    EXPECT_EQ(buffer->bufferedSeconds(), 3.0) << "the seconds before the failure are still there";
    EXPECT_TRUE(std::filesystem::exists(failedRun / "00000003.m4s"));
    record(10.0, 1);
    EXPECT_EQ(buffer->bufferedSeconds(), 4.0);
    buffer.reset();

    rig.run(rig.capture.restart());
    EXPECT_EQ(rig.capture.buffer()->bufferedSeconds(), 0.0);
    EXPECT_FALSE(std::filesystem::exists(failedRun)) << "a restart asked for starts afresh";

    // A full disk: the segment that cannot be written fails the run with the reason, and the
    // automatic restart keeps what was written before it.
    record(20.0, 2);
    const std::filesystem::path secondRun = rig.capture.buffer()->dir();
    rig.take();
    {
        vantel::test::FileSizeLimit full(0);
        sinks.back()->onMediaSegment({'s'}, media::SegmentTiming{22.0, 1.0});
    }
    rig.backend->handler->onVideo(frame(23.0), FrameStatus::complete);
    EXPECT_TRUE(settleUntil([&] { return rig.backend->configs.size() == 4; }, 2s));
    settle(50ms);
    const States states = rig.take();
    ASSERT_FALSE(states.empty());
    EXPECT_EQ(states.front().kind, State::Kind::error);
    EXPECT_EQ(states.front().text.find("Can't write the recording to "), 0u) << states.front().text;
    EXPECT_EQ(rig.capture.buffer()->bufferedSeconds(), 2.0);
    EXPECT_TRUE(std::filesystem::exists(secondRun / "00000002.m4s"));
    rig.run(rig.capture.stop());
    EXPECT_FALSE(std::filesystem::exists(secondRun)) << "a stop deletes the kept run too";
    EXPECT_TRUE(std::filesystem::is_empty(vantel::ReplayBuffer::runRoot()));
}
