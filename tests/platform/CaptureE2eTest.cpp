// The X11 capture stream against Xvfb and the session's PulseAudio null sinks: frames at the
// asked size and rate on one thread, tones played into the "game" and "mic" sinks arriving on
// the right track, the system sound following a change of the default output, and a killed
// sound stream reported once. The sound cases run under PipeWire's Pulse server too.

#include "common/TestEnv.h"
#include "platform/capture/CaptureBackend.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <mutex>
#include <pthread.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace vantel::platform;
using namespace std::chrono_literals;

namespace {

std::string threadName() {
    char name[32] = {};
    pthread_getname_np(pthread_self(), name, sizeof name);
    return name;
}

struct Recorder : SampleHandler {
    std::mutex lock;
    std::vector<double> videoPts;
    std::vector<std::pair<int, int>> sizes;
    std::vector<int> formats;
    std::vector<double> gamePts, micPts;
    std::vector<double> gameEnds; // the pts after each game chunk's last sample
    float gamePeak = 0, micPeak = 0;
    int micChannels = 0;
    std::vector<std::string> threads;
    std::vector<std::string> stops;
    std::atomic<int> inside{0};
    std::atomic<bool> overlapped{false};
    std::atomic<int> calls{0};

    void enter() {
        if (inside.fetch_add(1) != 0)
            overlapped = true;
        ++calls;
        std::lock_guard l(lock);
        std::string name = threadName();
        if (std::find(threads.begin(), threads.end(), name) == threads.end())
            threads.push_back(name);
    }
    void onVideo(const vantel::media::VideoFrame& f, FrameStatus status) override {
        enter();
        std::lock_guard l(lock);
        EXPECT_EQ(status, FrameStatus::complete);
        videoPts.push_back(f.pts);
        sizes.emplace_back(f.frame->width, f.frame->height);
        formats.push_back(f.frame->format);
        --inside;
    }
    void onAudio(const vantel::media::AudioChunk& c, bool fromMic) override {
        enter();
        std::lock_guard l(lock);
        float peak = 0;
        for (float s : c.samples)
            peak = std::max(peak, std::fabs(s));
        (fromMic ? micPts : gamePts).push_back(c.pts);
        if (!fromMic)
            gameEnds.push_back(c.pts + double(c.frameCount()) / c.sampleRate);
        (fromMic ? micPeak : gamePeak) = std::max(fromMic ? micPeak : gamePeak, peak);
        if (fromMic)
            micChannels = c.channels;
        EXPECT_EQ(c.sampleRate, 48000);
        --inside;
    }
    void onStreamStopped(const std::string& error) override {
        std::lock_guard l(lock);
        stops.push_back(error);
    }
};

StreamConfig config(bool mic) {
    auto backend = createCaptureBackend();
    StreamConfig c;
    c.display = backend->displays().at(0);
    c.width = 320;
    c.height = 180;
    c.fps = 10;
    c.showCursor = true;
    c.captureMic = mic;
    return c;
}

// Plays a 440 Hz tone into a null sink in the background for `seconds`.
void playTone(const char* sink, double seconds) {
    std::string cmd =
        "sox -q -n -t raw -r 48000 -e float -b 32 -c 2 - synth " + std::to_string(seconds) +
        " sine 440 vol 0.5 | pacat --raw --device=" + sink +
        " --latency-msec=20 --format=float32le --rate=48000 --channels=2 >/dev/null 2>&1 &";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
}

// The first line a shell command prints, without its line end.
std::string output(const std::string& command) {
    std::string out;
    if (FILE* p = popen(command.c_str(), "r")) {
        char line[256];
        if (fgets(line, sizeof line, p))
            out = line;
        pclose(p);
    }
    while (!out.empty() && (out.back() == '\n' || out.back() == ' '))
        out.pop_back();
    return out;
}

// Polls the recorder (under its lock) until the condition holds or `seconds` pass.
template <typename Pred> void waitFor(Recorder& rec, Pred done, double seconds) {
    const double until = vantel::media::captureClockNow() + seconds;
    while (vantel::media::captureClockNow() < until) {
        {
            std::lock_guard l(rec.lock);
            if (done())
                return;
        }
        std::this_thread::sleep_for(20ms);
    }
}

// Waits until nothing plays into the server any more (a tone of an earlier test has ended).
void waitForSilence() {
    for (int i = 0; i < 60 && !output("pactl list short sink-inputs").empty(); ++i)
        std::this_thread::sleep_for(50ms);
}

// Ends every recording stream of the server through its command-line interface, which pactl
// lacks a command for.
bool killSourceOutputs() {
    const std::string socketPath = (vantel::test::testHome() / "pulse-cli.sock").string();
    std::string module = output("pactl load-module module-cli-protocol-unix socket=" + socketPath);
    std::string ids = output("pactl list short source-outputs | cut -f1 | tr '\\n' ' '");
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", socketPath.c_str());
    bool ok = !module.empty() && !ids.empty() &&
              connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    std::istringstream list(ids);
    for (std::string id; ok && list >> id;) {
        std::string command = "kill-source-output " + id + "\n";
        ok = write(fd, command.data(), command.size()) == ssize_t(command.size());
    }
    std::this_thread::sleep_for(200ms);
    close(fd);
    std::system(("pactl unload-module " + module + " >/dev/null 2>&1").c_str());
    return ok;
}

bool increasing(const std::vector<double>& v) {
    return std::adjacent_find(v.begin(), v.end(), std::greater_equal<>()) == v.end();
}

} // namespace

TEST(X11Capture, FramesAndSystemSoundOnOneThread) {
    Recorder rec;
    auto backend = createCaptureBackend();
    auto stream = backend->createStream(config(false), rec);
    waitForSilence();
    // Already playing when recording starts, as a game's sound is.
    playTone("game", 3.5);
    std::this_thread::sleep_for(300ms);
    const double begin = vantel::media::captureClockNow();
    stream->start();
    // An idle null sink may sleep up to its 2 s latency before it feeds a new recording.
    waitFor(
        rec, [&] { return rec.gamePeak > 0.1f; }, 4.0);
    std::this_thread::sleep_for(std::chrono::duration<double>(
        std::max(0.0, begin + 2.0 - vantel::media::captureClockNow())));
    stream->stop();
    const double end = vantel::media::captureClockNow();
    const int calls = rec.calls;
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(rec.calls, calls) << "a handler call after stop()";

    std::lock_guard l(rec.lock);
    const double expected = (end - begin) * 10;
    EXPECT_GE(double(rec.videoPts.size()), expected - 3);
    EXPECT_LE(double(rec.videoPts.size()), expected + 1);
    EXPECT_TRUE(increasing(rec.videoPts));
    ASSERT_GE(rec.videoPts.size(), 2u);
    EXPECT_GE(rec.videoPts.front(), begin);
    EXPECT_LE(rec.videoPts.back(), end);
    // Paced on a grid: the mean interval is the frame interval.
    double mean = (rec.videoPts.back() - rec.videoPts.front()) / double(rec.videoPts.size() - 1);
    EXPECT_NEAR(mean, 0.1, 0.01);
    for (auto [w, h] : rec.sizes)
        EXPECT_TRUE(w == 320 && h == 180);
    for (int f : rec.formats)
        EXPECT_EQ(f, AV_PIX_FMT_YUV420P);
    EXPECT_EQ(rec.threads, std::vector<std::string>{"record.capture"});
    EXPECT_FALSE(rec.overlapped);
    EXPECT_TRUE(rec.stops.empty());

    EXPECT_GT(rec.gamePeak, 0.1f) << "the tone did not arrive";
    EXPECT_TRUE(rec.micPts.empty());
    EXPECT_TRUE(increasing(rec.gamePts));
    ASSERT_FALSE(rec.gamePts.empty());
    EXPECT_GT(rec.gamePts.front(), begin - 0.5);
    EXPECT_LT(rec.gamePts.back(), end);
    // Nothing is lost: every chunk starts where the one before ended, from the first on (the
    // server's latency readings at the start must not open gaps or overlaps).
    for (size_t i = 1; i < rec.gamePts.size(); ++i)
        ASSERT_NEAR(rec.gamePts[i], rec.gameEnds[i - 1], 1e-6) << "chunk " << i;
}

TEST(X11Capture, MicrophoneIsATrackOfItsOwn) {
    Recorder rec;
    auto backend = createCaptureBackend();
    auto stream = backend->createStream(config(true), rec);
    waitForSilence();
    stream->start();
    playTone("mic", 3.0);
    waitFor(
        rec, [&] { return rec.micPeak > 0.1f && !rec.gamePts.empty(); }, 4.0);
    stream->stop();
    std::lock_guard l(rec.lock);
    EXPECT_TRUE(rec.stops.empty()) << rec.stops.front();
    EXPECT_GT(rec.micPeak, 0.1f);
    EXPECT_LT(rec.gamePeak, 0.01f) << "the microphone leaked into the system sound";
    EXPECT_EQ(rec.micChannels, 1);
    EXPECT_TRUE(increasing(rec.micPts));
    EXPECT_FALSE(rec.gamePts.empty()) << "silence still arrives as sound";
}

TEST(X11Capture, LostSoundStreamStopsOnceWithAMessage) {
    Recorder rec;
    auto backend = createCaptureBackend();
    auto stream = backend->createStream(config(false), rec);
    stream->start();
    std::this_thread::sleep_for(300ms);
    // The server ends our recording stream, as it does when its device goes away for good.
    ASSERT_TRUE(killSourceOutputs());
    waitFor(
        rec, [&] { return !rec.stops.empty(); }, 2.5);
    const int calls = rec.calls;
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(rec.calls, calls) << "samples after the stream stopped";
    stream->stop();
    std::lock_guard l(rec.lock);
    ASSERT_EQ(rec.stops.size(), 1u);
    EXPECT_NE(rec.stops[0].find("sound"), std::string::npos) << rec.stops[0];
}

TEST(X11Capture, ASlowHandlerCostsFramesNotDelay) {
    struct Slow : Recorder {
        void onVideo(const vantel::media::VideoFrame& f, FrameStatus s) override {
            Recorder::onVideo(f, s);
            if (calls == 3)
                std::this_thread::sleep_for(350ms);
        }
    } rec;
    auto backend = createCaptureBackend();
    StreamConfig c = config(false);
    auto stream = backend->createStream(c, rec);
    const double begin = vantel::media::captureClockNow();
    stream->start();
    std::this_thread::sleep_for(1500ms);
    stream->stop();
    const double ticks = (vantel::media::captureClockNow() - begin) * 10;
    std::lock_guard l(rec.lock);
    const double frames = double(rec.videoPts.size());
    EXPECT_GE(stream->skippedFrames(), 2u);
    EXPECT_NEAR(frames + double(stream->skippedFrames()), ticks, 2.0);
    // After the stall the frames are back on the grid of the first one, not shifted by it.
    ASSERT_GE(rec.videoPts.size(), 6u);
    const double phase = std::fmod(rec.videoPts.back() - rec.videoPts.front(), 0.1);
    EXPECT_TRUE(phase < 0.03 || phase > 0.07) << phase;
}

TEST(X11Capture, SystemSoundFollowsTheDefaultOutput) {
    const std::string module =
        output("pactl load-module module-null-sink sink_name=speakers rate=48000 channels=2");
    ASSERT_FALSE(module.empty());
    struct Restore {
        std::string module;
        ~Restore() {
            std::system("pactl set-default-sink game");
            std::system(("pactl unload-module " + module).c_str());
        }
    } restore{module};

    Recorder rec;
    auto backend = createCaptureBackend();
    auto stream = backend->createStream(config(false), rec);
    waitForSilence();
    stream->start();
    playTone("speakers", 8.0);
    waitFor(
        rec, [&] { return rec.gamePts.size() > 50; }, 3.0);
    {
        std::lock_guard l(rec.lock);
        EXPECT_LT(rec.gamePeak, 0.01f) << "another output than the default one was recorded";
        EXPECT_GT(rec.gamePts.size(), 50u) << "no system sound arrived";
    }
    // The player plugs in a headset, and it becomes the default output.
    ASSERT_EQ(std::system("pactl set-default-sink speakers"), 0);
    waitFor(
        rec, [&] { return rec.gamePeak > 0.1f; }, 5.0);
    stream->stop();
    std::lock_guard l(rec.lock);
    EXPECT_GT(rec.gamePeak, 0.1f) << "the recording did not follow the new default output";
    EXPECT_TRUE(rec.stops.empty()) << rec.stops.front();
    EXPECT_TRUE(increasing(rec.gamePts));
}
