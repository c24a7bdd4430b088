// Records the real X display and PulseAudio sinks of the test session in the mode that always
// records, and checks the buffer and a snapshot of it with ffmpeg: segments, clean decoding,
// frame rate, and the game and microphone tones on their own tracks. Then a restart of the sound
// server while recording (also under PipeWire's Pulse server): the clip saved after it still
// holds the seconds before.

#include "E2eSupport.h"
#include "common/TestEnv.h"
#include "engine/CaptureController.h"
#include "media/DirectSave.h"
#include "media/MediaSample.h"
#include "platform/capture/CaptureBackend.h"

#include <QCoro/QCoroTask>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>

using namespace std::chrono_literals;
using namespace vantel;
using namespace vantel::e2e;

TEST(Recording, TheDesktopWithGameAndMicrophoneSound) {
    Child game = startGame({"--app-id", "org.vantel.Backdrop", "--x", "200", "--y", "150"});
    Child gameTone = playTone("game", 440, 40);
    Child micTone = playTone("mic", 1000, 40);

    CaptureController capture(platform::createCaptureBackend());
    CaptureConfig config;
    config.mode = CaptureMode::always;
    config.fps = 30;
    config.maxHeight = 720;
    config.bufferSeconds = 30;
    config.quality = Quality::standard;
    config.recordMic = true;
    capture.setConfigProvider([&] { return config; });
    capture.setCurrentGameProvider([] { return std::nullopt; });
    ASSERT_TRUE(capture.permitted());

    QCoro::waitFor(capture.sync());
    ASSERT_EQ(capture.state(), CaptureController::State::recording("Desktop"))
        << capture.state().text;
    std::shared_ptr<ReplayBuffer> buffer = capture.buffer();
    ASSERT_TRUE(buffer);
    EXPECT_EQ(buffer->width(), 1280);
    EXPECT_EQ(buffer->height(), 720);

    waitUntil([] { return false; }, 12s);
    EXPECT_EQ(capture.state(), CaptureController::State::recording("Desktop"))
        << capture.state().text;
    EXPECT_GE(buffer->segments().size(), 10u);

    const ReplayBuffer::Snapshot snap = buffer->snapshot(5.0);
    // Decoded at the recorded times: frames carry the moment they were grabbed, so a busy
    // machine spaces some closer than 1/30 s, which the tool would otherwise round onto one tick
    // and report as an error.
    QByteArray errors;
    runTool("ffmpeg",
            {"-v", "error", "-i", QString::fromStdString(snap.url), "-fps_mode", "passthrough",
             "-enc_time_base", "-1", "-f", "null", "-"},
            &errors);
    EXPECT_TRUE(errors.isEmpty()) << errors.toStdString();

    // The newest five seconds of video hold 30 frames a second, within 5 %.
    std::vector<double> times = videoFrameTimes(snap.url);
    ASSERT_FALSE(times.empty());
    const double last = *std::max_element(times.begin(), times.end());
    const auto inLastFive =
        std::count_if(times.begin(), times.end(), [&](double t) { return t > last - 5.0; });
    EXPECT_NEAR(double(inLastFive), 150.0, 7.5);

    const ToneLevel gameTrack = measureTone(decodeAudio(snap.url, 0), 440);
    const ToneLevel gameTrackAtMic = measureTone(decodeAudio(snap.url, 0), 1000);
    EXPECT_GT(gameTrack.rms, 0.05);
    EXPECT_GT(gameTrack.share, 0.6);
    EXPECT_LT(gameTrackAtMic.share, 0.05) << "the microphone does not leak into the game track";

    const ToneLevel micTrack = measureTone(decodeAudio(snap.url, 1), 1000);
    std::printf("segments %zu, frames in the last 5 s %ld, game rms %.3f share %.3f (1 kHz %.3f), "
                "mic rms %.3f share %.3f\n",
                buffer->segments().size(), long(inLastFive), gameTrack.rms, gameTrack.share,
                gameTrackAtMic.share, micTrack.rms, micTrack.share);
    EXPECT_GT(micTrack.rms, 0.05);
    EXPECT_GT(micTrack.share, 0.6);

    std::filesystem::remove(snap.url);
    const std::filesystem::path dir = buffer->dir();
    buffer.reset();
    QCoro::waitFor(capture.stop());
    EXPECT_FALSE(std::filesystem::exists(dir));
}

// The sound server goes away and comes back (a crash, an update): the run fails, restarts by
// itself, and a clip saved after the restart reaches back across it into the seconds before.
TEST(Recording, ASoundServerRestartKeepsTheSecondsBeforeIt) {
    const char* restartSound = std::getenv("VANTEL_RESTART_SOUND");
    ASSERT_TRUE(restartSound) << "run inside tests/e2e/session.sh";
    Child game = startGame({"--app-id", "org.vantel.Backdrop", "--x", "100", "--y", "100"});
    Child tone = playTone("game", 440, 60);

    CaptureController capture(platform::createCaptureBackend());
    CaptureConfig config;
    config.mode = CaptureMode::always;
    config.fps = 30;
    config.maxHeight = 360;
    config.bufferSeconds = 30;
    config.quality = Quality::standard;
    capture.setConfigProvider([&] { return config; });
    capture.setCurrentGameProvider([] { return std::nullopt; });
    QCoro::waitFor(capture.sync());
    ASSERT_EQ(capture.state(), CaptureController::State::recording("Desktop"))
        << capture.state().text;
    const std::filesystem::path firstRun = capture.buffer()->dir();
    ASSERT_TRUE(waitUntil([&] { return capture.buffer()->segments().size() >= 6; }, 20s));
    const double before = capture.buffer()->bufferedSeconds();

    std::vector<CaptureController::State> states;
    capture.onState = [&](CaptureController::State state) {
        states.push_back(std::move(state));
    };
    ASSERT_EQ(std::system(restartSound), 0) << restartSound;
    tone = playTone("game", 440, 60); // the player went away with the old server
    ASSERT_TRUE(waitUntil(
        [&] {
            return capture.state().kind == CaptureController::State::Kind::recording &&
                   capture.buffer() && capture.buffer()->dir() != firstRun &&
                   capture.buffer()->segments().size() >= 4;
        },
        30s))
        << capture.state().text;
    ASSERT_FALSE(states.empty());
    EXPECT_EQ(states.front().kind, CaptureController::State::Kind::error)
        << "the failure was shown";
    EXPECT_TRUE(std::filesystem::exists(firstRun)) << "the failed run's folder is kept";

    std::shared_ptr<ReplayBuffer> buffer = capture.buffer();
    const double after = buffer->segments().size();
    const ReplayBuffer::SegmentSet set = buffer->chooseSegments(30, media::captureClockNow());
    ASSERT_EQ(set.runs.size(), 2u) << "the save reaches back into the run before the restart";
    const std::filesystem::path clip = test::testHome() / "across-restart.mp4";
    const media::DirectSaveResult saved = media::saveNewest(set.runs, 30, clip);
    std::printf("before the restart %.2f s, after %.0f segments, clip %.2f s\n", before, after,
                saved.duration);
    EXPECT_GT(saved.duration, after + before - 2.0) << "both runs are in the clip";
    QByteArray errors;
    runTool("ffmpeg",
            {"-v", "error", "-i", QString::fromStdString(clip.string()), "-fps_mode", "passthrough",
             "-enc_time_base", "-1", "-f", "null", "-"},
            &errors);
    EXPECT_TRUE(errors.isEmpty()) << errors.toStdString();
    const ToneLevel sound = measureTone(decodeAudio(clip, 0), 440);
    EXPECT_GT(sound.share, 0.5) << "the game sound on both sides of the gap";

    const std::filesystem::path secondRun = buffer->dir();
    buffer.reset();
    QCoro::waitFor(capture.stop());
    EXPECT_FALSE(std::filesystem::exists(firstRun));
    EXPECT_FALSE(std::filesystem::exists(secondRun));
}
