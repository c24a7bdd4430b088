// Records the real X display and PulseAudio sinks of the test session in the mode that always
// records, and checks the buffer and a snapshot of it with ffmpeg: segments, clean decoding,
// frame rate, and the game and microphone tones on their own tracks.

#include "E2eSupport.h"
#include "engine/Capture.h"
#include "platform/CaptureSource.h"

#include <QCoro/QCoroTask>
#include <algorithm>
#include <cstdio>
#include <gtest/gtest.h>

using namespace std::chrono_literals;
using namespace vantel;
using namespace vantel::e2e;

TEST(Recording, TheDesktopWithGameAndMicrophoneSound) {
    Child game = startGame({"--app-id", "org.vantel.Backdrop", "--x", "200", "--y", "150"});
    Child gameTone = playTone("game", 440, 40);
    Child micTone = playTone("mic", 1000, 40);

    Capture capture(platform::createCaptureBackend());
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
    ASSERT_EQ(capture.state(), Capture::State::recording("Desktop")) << capture.state().text;
    std::shared_ptr<ReplayBuffer> buffer = capture.buffer();
    ASSERT_TRUE(buffer);
    EXPECT_EQ(buffer->width(), 1280);
    EXPECT_EQ(buffer->height(), 720);

    waitUntil([] { return false; }, 12s);
    EXPECT_EQ(capture.state(), Capture::State::recording("Desktop")) << capture.state().text;
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
