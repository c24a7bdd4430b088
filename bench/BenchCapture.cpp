// Records the screen at 1280x720, 30 fps, with the system sound, through our capture stream into
// a replay buffer with the real H.264 encoder (high quality), then has the ffmpeg command-line
// tool do the same work with the same encoder settings for the same time. Meanwhile a child
// process animates the screen and a tone plays into the default sink, so both runs see the same
// moving picture and sound.
//
// On X11 the ffmpeg tool captures the same screen (x11grab, scaled to the same size) and sound
// (pulse) itself. On Wayland it cannot (it has no PipeWire screen-cast input), so there the
// comparison is encode-only: ffmpeg encodes the very pictures and sound we recorded, decoded
// beforehand by a separate ffmpeg process into 32-bit RGB (the screen's layout) and fed through a
// pipe at the real rate; only the encoding process is timed. Our side still pays for the portal
// capture and the conversion, so the ratio leans against us. "ffmpeg_mode" says which it was.
//
// Prints: cpu_seconds (this process, all threads: capture, conversion, encoding, muxing),
// ffmpeg_cpu_seconds, cpu_ratio (ours / ffmpeg's), dropped_frames (frame ticks skipped by the
// stream's pacing plus frames the buffer did not hand to the encoder), ffmpeg_dropped_frames
// (the last "drop=" of its statistics; none when it only encodes), plus frames for context and,
// on Wayland, screen_pictures: the pictures the compositor sent (one per change of the screen).
//
// Usage (needs a desktop and a sound server):
//   tests/e2e/session.sh build/bin/bench-capture [--seconds N]
//   tests/e2e/session.sh --wayland build/bin/bench-capture [--seconds N]

#include "FfmpegReference.h"
#include "engine/ReplayBuffer.h"
#include "media/Fmp4SegmentWriter.h"
#include "platform/capture/CaptureBackend.h"
#include "platform/capture/wayland/WaylandCaptureStream.h"

#include <QGuiApplication>
#include <QPainter>
#include <QRasterWindow>
#include <QTimer>
extern "C" {
#include <libavutil/log.h>
}
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>
#include <xcb/xcb.h>

extern char** environ;

namespace fs = std::filesystem;
using namespace vantel;

namespace {

constexpr int kWidth = 1280;
constexpr int kHeight = 720;
constexpr int kFps = 30;

double cpuSeconds(const rusage& u) {
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

double selfCpu() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return cpuSeconds(u);
}

bool onWayland() {
    return std::getenv("WAYLAND_DISPLAY") && !std::getenv("DISPLAY");
}

// Starts a program in a process group of its own, so that end() stops its children too. Its
// standard input and output are the given descriptors (-1: /dev/null and ours); `closeFd` is
// closed in the child.
pid_t spawn(const std::vector<std::string>& args, const char* stderrFile = nullptr, int inFd = -1,
            int outFd = -1, int closeFd = -1) {
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (inFd >= 0)
        posix_spawn_file_actions_adddup2(&actions, inFd, 0);
    else
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (outFd >= 0)
        posix_spawn_file_actions_adddup2(&actions, outFd, 1);
    if (closeFd >= 0)
        posix_spawn_file_actions_addclose(&actions, closeFd);
    if (stderrFile)
        posix_spawn_file_actions_addopen(&actions, 2, stderrFile, O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attr, 0);
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], &actions, &attr, argv.data(), environ) != 0)
        pid = -1;
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

void end(pid_t pid) {
    if (pid <= 0)
        return;
    kill(-pid, SIGTERM);
    waitpid(pid, nullptr, 0);
}

// The child process behind --animate: a full-screen window with bars that move every frame,
// redrawn at 30 fps until it is terminated.
int animate() {
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c))
        return 1;
    xcb_screen_t* s = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    xcb_window_t w = xcb_generate_id(c);
    uint32_t values[] = {s->black_pixel, 1};
    xcb_create_window(c, XCB_COPY_FROM_PARENT, w, s->root, 0, 0, s->width_in_pixels,
                      s->height_in_pixels, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, s->root_visual,
                      XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, values);
    xcb_map_window(c, w);
    xcb_gcontext_t gc = xcb_generate_id(c);
    xcb_create_gc(c, gc, w, 0, nullptr);
    const uint32_t colours[] = {0x000000, 0xd04040, 0x40a040, 0x4060e0, 0xe0e0e0, 0x806020};
    for (int frame = 0; xcb_connection_has_error(c) == 0; ++frame) {
        for (int band = 0; band < 12; ++band) {
            uint32_t colour = colours[(band + frame / 8) % 6];
            xcb_change_gc(c, gc, XCB_GC_FOREGROUND, &colour);
            int16_t x = int16_t((band * 160 + frame * 7) % s->width_in_pixels);
            xcb_rectangle_t r{x, int16_t(band * 90), 400, 90};
            xcb_poly_fill_rectangle(c, w, gc, 1, &r);
        }
        xcb_flush(c);
        std::this_thread::sleep_for(std::chrono::milliseconds(1000 / kFps));
    }
    return 0;
}

// The child process behind --animate on Wayland: a window (tiled to the whole output by the
// compositor) with bars that move every frame, redrawn at 30 fps until it is terminated.
class Bars : public QRasterWindow {
protected:
    void paintEvent(QPaintEvent*) override {
        static const QRgb colours[] = {0x000000, 0xd04040, 0x40a040, 0x4060e0, 0xe0e0e0, 0x806020};
        QPainter p(this);
        p.fillRect(QRect(0, 0, width(), height()), Qt::black);
        for (int band = 0; band < 12; ++band) {
            const int x = (band * 160 + m_frame * 7) % std::max(1, width());
            p.fillRect(x, band * height() / 12, 400, height() / 12 + 1,
                       QColor::fromRgb(colours[(band + m_frame / 8) % 6]));
        }
        ++m_frame;
    }

private:
    int m_frame = 0;
};

int animateWayland(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    Bars bars;
    bars.resize(kWidth, kHeight);
    bars.show();
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, &bars, [&] { bars.update(); });
    tick.start(1000 / kFps);
    return app.exec();
}

// Passes samples to the buffer and counts what it offers.
struct Feeder : platform::SampleHandler {
    std::shared_ptr<ReplayBuffer> buffer;
    std::atomic<int64_t> offered{0};
    std::atomic<bool> stopped{false};
    void onVideo(const media::VideoFrame& f, platform::FrameStatus) override {
        ++offered;
        buffer->appendVideo(f);
    }
    void onAudio(const media::AudioChunk& c, bool mic) override { buffer->appendAudio(c, mic); }
    void onStreamStopped(const std::string& e) override {
        std::cerr << "stream stopped: " << e << "\n";
        stopped = true;
    }
};

// Counts the frames the buffer really hands to the encoder.
class CountingWriter : public media::SegmentWriter {
public:
    CountingWriter(std::unique_ptr<SegmentWriter> inner, std::atomic<int64_t>& taken)
        : m_inner(std::move(inner))
        , m_taken(taken) {}
    bool start(double firstPts) override { return m_inner->start(firstPts); }
    bool videoReady() const override { return m_inner->videoReady(); }
    bool audioReady(media::AudioTrack t) const override { return m_inner->audioReady(t); }
    void appendVideo(const media::VideoFrame& f) override {
        ++m_taken;
        m_inner->appendVideo(f);
    }
    void appendAudio(media::AudioTrack t, const media::AudioChunk& c) override {
        m_inner->appendAudio(t, c);
    }
    void finish() override { m_inner->finish(); }
    Status status() const override { return m_inner->status(); }
    std::string error() const override { return m_inner->error(); }

private:
    std::unique_ptr<SegmentWriter> m_inner;
    std::atomic<int64_t>& m_taken;
};

struct OurResult {
    double cpu = 0;
    int64_t offered = 0, taken = 0, skipped = 0;
    int segments = 0;
    int64_t pictures = -1; // on Wayland: pictures the compositor sent (changes of the screen)
    fs::path recording;    // on Wayland: what we recorded, for ffmpeg to encode again
};

OurResult runOurs(double seconds) {
    auto backend = platform::createCaptureBackend();
    // Once per session the portal asks (here the session's own chooser answers).
    if (!backend->hasPermission() && !backend->requestPermission())
        throw std::runtime_error("screen recording was not allowed");
    platform::StreamConfig config;
    const auto displays = backend->displays();
    config.display = displays.at(0);
    for (const auto& d : displays)
        if (backend->mainDisplay() == d.id)
            config.display = d;
    config.width = kWidth;
    config.height = kHeight;
    config.fps = kFps;
    config.showCursor = true;

    std::atomic<int64_t> taken{0};
    auto real = media::makeFmp4SegmentWriter();
    auto factory = [&](const media::WriterConfig& c, media::SegmentSink& sink) {
        return std::unique_ptr<media::SegmentWriter>(new CountingWriter(real(c, sink), taken));
    };
    Feeder feeder;
    feeder.buffer = std::make_shared<ReplayBuffer>(
        ReplayBuffer::Config{
            .width = kWidth, .height = kHeight, .fps = kFps, .keepSeconds = seconds + 5.0},
        factory);
    const double cpu0 = selfCpu();
    auto stream = backend->createStream(config, feeder);
    stream->start();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    stream->stop();
    feeder.buffer->finish();
    OurResult r;
    r.cpu = selfCpu() - cpu0;
    r.offered = feeder.offered;
    r.taken = taken;
    r.skipped = int64_t(stream->skippedFrames());
    if (const auto* wayland = dynamic_cast<platform::WaylandCaptureStream*>(stream.get()))
        r.pictures = int64_t(wayland->receivedPictures());
    r.segments = int(feeder.buffer->segments().size());
    if (auto failed = feeder.buffer->failed())
        std::cerr << "buffer failed: " << *failed << "\n";
    // The whole run was kept for this.
    if (onWayland())
        r.recording = feeder.buffer->snapshot(seconds).url;
    feeder.buffer->discard();
    return r;
}

struct FfmpegResult {
    double cpu = 0;
    bench::FfmpegStats stats;
    int status = -1;
};

bench::ReferenceCapture reference(double seconds, const fs::path& dir) {
    const char* display = std::getenv("DISPLAY");
    bench::ReferenceCapture capture;
    capture.display = display ? display : ":0";
    capture.width = kWidth;
    capture.height = kHeight;
    capture.fps = kFps;
    capture.bitRate =
        ReplayBuffer::encoderBitRate(kWidth, kHeight, kFps, Quality::high, Codec::h264);
    capture.seconds = int(seconds);
    capture.drawMouse = true;
    capture.output = (dir / "ffmpeg.mp4").string();
    return capture;
}

// Waits for the timed ffmpeg and reads its figures.
FfmpegResult finish(pid_t pid, const fs::path& log) {
    FfmpegResult r;
    if (pid <= 0)
        return r;
    rusage u{};
    int status = 0;
    wait4(pid, &status, 0, &u);
    r.cpu = cpuSeconds(u);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream in(log);
    std::stringstream text;
    text << in.rdbuf();
    r.stats = bench::parseFfmpegStats(text.str());
    if (r.status != 0)
        std::cerr << text.str() << "\n";
    return r;
}

FfmpegResult runFfmpeg(double seconds, const fs::path& dir) {
    const fs::path log = dir / "ffmpeg.log";
    std::vector<std::string> args = bench::ffmpegCaptureArguments(reference(seconds, dir));
    args.insert(args.begin(), "ffmpeg");
    return finish(spawn(args, log.c_str()), log);
}

// Encode only: a separate ffmpeg decodes our recording into the screen's 32-bit RGB, and the
// timed one encodes those pictures (and the recorded sound) at the real rate.
FfmpegResult runFfmpegEncodeOnly(double seconds, const fs::path& recording, const fs::path& dir) {
    int pipeFds[2];
    if (recording.empty() || pipe(pipeFds) != 0)
        return {};
    const pid_t decoder = spawn({"ffmpeg", "-v", "error", "-nostdin", "-i", recording.string(),
                                 "-map", "0:v:0", "-f", "rawvideo", "-pix_fmt", "bgr0", "-"},
                                nullptr, -1, pipeFds[1], pipeFds[0]);
    close(pipeFds[1]);
    const fs::path log = dir / "ffmpeg.log";
    std::vector<std::string> args{"ffmpeg",
                                  "-hide_banner",
                                  "-y",
                                  "-f",
                                  "rawvideo",
                                  "-pix_fmt",
                                  "bgr0",
                                  "-video_size",
                                  std::to_string(kWidth) + "x" + std::to_string(kHeight),
                                  "-framerate",
                                  std::to_string(kFps),
                                  "-re",
                                  "-i",
                                  "-",
                                  "-i",
                                  recording.string(),
                                  "-map",
                                  "0:v",
                                  "-map",
                                  "1:a:0"};
    for (std::string& a : bench::ffmpegEncoderArguments(reference(seconds, dir)))
        args.push_back(std::move(a));
    const FfmpegResult r = finish(spawn(args, log.c_str(), pipeFds[0]), log);
    close(pipeFds[0]);
    waitpid(decoder, nullptr, 0);
    return r;
}

} // namespace

int main(int argc, char** argv) {
    double seconds = 60;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--animate")
            return onWayland() ? animateWayland(argc, argv) : animate();
        if (arg == "--seconds" && i + 1 < argc)
            seconds = std::atof(argv[++i]);
    }
    if (!std::getenv("DISPLAY") && !onWayland()) {
        std::cerr << "bench-capture needs a desktop: run it inside tests/e2e/session.sh\n";
        return 2;
    }
    // The portal is asked over the session bus, which wants an application object.
    QCoreApplication app(argc, argv);
    av_log_set_level(AV_LOG_ERROR);
    const fs::path dir = fs::temp_directory_path() / ("bench-capture-" + std::to_string(getpid()));
    fs::create_directories(dir);

    pid_t animation = spawn({fs::read_symlink("/proc/self/exe").string(), "--animate"});
    pid_t sound = spawn({"sh", "-c", bench::toneCommand(int(2 * seconds + 30))});
    std::this_thread::sleep_for(std::chrono::seconds(2)); // the sink wakes, the window maps

    OurResult ours = runOurs(seconds);
    FfmpegResult theirs =
        onWayland() ? runFfmpegEncodeOnly(seconds, ours.recording, dir) : runFfmpeg(seconds, dir);
    if (!ours.recording.empty())
        fs::remove(ours.recording);
    end(sound);
    end(animation);
    fs::remove_all(dir);

    const int64_t dropped = ours.skipped + (ours.offered - ours.taken);
    std::printf("seconds: %.0f\n", seconds);
    std::printf("ffmpeg_mode: %s\n",
                onWayland() ? "encode-only (the ffmpeg tool cannot capture from PipeWire: it "
                              "encodes our recorded pictures and sound again)"
                            : "capture+encode (x11grab, pulse)");
    std::printf("frames_offered: %lld\n", (long long)ours.offered);
    std::printf("frames_encoded: %lld\n", (long long)ours.taken);
    std::printf("segments: %d\n", ours.segments);
    if (ours.pictures >= 0)
        std::printf("screen_pictures: %lld\n", (long long)ours.pictures);
    std::printf("ffmpeg_frames: %lld\n", (long long)theirs.stats.frames);
    std::printf("cpu_seconds: %.2f\n", ours.cpu);
    std::printf("ffmpeg_cpu_seconds: %.2f\n", theirs.cpu);
    std::printf("cpu_ratio: %.3f\n", theirs.cpu > 0 ? ours.cpu / theirs.cpu : 0.0);
    std::printf("dropped_frames: %lld\n", (long long)dropped);
    std::printf("ffmpeg_dropped_frames: %lld\n", (long long)theirs.stats.dropped);
    std::printf("ffmpeg_duplicated_frames: %lld\n", (long long)theirs.stats.duplicated);
    return theirs.status == 0 ? 0 : 1;
}
