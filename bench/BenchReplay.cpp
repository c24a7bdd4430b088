// Feeds generated 1280x720 video at 60 fps with 48 kHz stereo sound into a replay buffer backed
// by the real encoder, as fast as the encoder takes the samples (each sample is offered once the
// writer is ready for it, so none is dropped), then snapshots the newest 30 seconds.
//
// Prints: encode_speed_x (media seconds per wall second), segments_on_disk, peak_rss_mb
// (VmHWM), cpu_seconds_per_media_second (process CPU time per second of media, all threads,
// frame cloning and sound generation included), snapshot_seconds (joining the newest 30 s) and
// cat_seconds (cat of the same segment files into one file, for comparison).
//
// Options: --keep SECONDS (buffer length, default 30), --seconds SECONDS (media fed, default 45),
// --hevc.

#include "common/SyntheticMedia.h"
#include "engine/ReplayBuffer.h"
#include "media/Fmp4SegmentWriter.h"

extern "C" {
#include <libavutil/log.h>
}

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>
#include <time.h>
#include <unistd.h>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

struct Options {
    double keep = 30.0;
    double seconds = 45.0;
    bool hevc = false;
};

constexpr int kWidth = 1280;
constexpr int kHeight = 720;
constexpr int kFps = 60;
constexpr int kDistinctFrames = 36;
constexpr int kChunk = 480; // 10 ms of sound
constexpr double kClockStart = 5000.0;

Options parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--keep" && i + 1 < argc)
            o.keep = std::atof(argv[++i]);
        else if (arg == "--seconds" && i + 1 < argc)
            o.seconds = std::atof(argv[++i]);
        else if (arg == "--hevc")
            o.hevc = true;
    }
    return o;
}

double seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

template <typename Ready> void waitUntil(Ready ready) {
    while (!ready())
        std::this_thread::sleep_for(std::chrono::microseconds(100));
}

// Processor time of the whole process (all threads), which the machine's load does not inflate.
double cpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

double peakRssMb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0)
            return std::atof(line.c_str() + 6) / 1024.0;
    }
    return -1;
}

// The run of the newest segments that covers `wanted` seconds, oldest first.
std::vector<vantel::ReplayBuffer::Segment> newest(std::vector<vantel::ReplayBuffer::Segment> all,
                                                  double wanted) {
    double total = 0;
    size_t first = all.size();
    while (first > 0 && total < wanted)
        total += all[--first].duration;
    return {all.begin() + long(first), all.end()};
}

// The writer made by the buffer, kept visible so that samples are offered only when it is ready.
struct WatchedFactory {
    vantel::media::SegmentWriter* writer = nullptr;

    vantel::media::SegmentWriterFactory factory() {
        return [this](const vantel::media::WriterConfig& config, vantel::media::SegmentSink& sink) {
            auto made = vantel::media::makeFmp4SegmentWriter()(config, sink);
            writer = made.get();
            return made;
        };
    }
};

void feed(vantel::ReplayBuffer& buffer, WatchedFactory& watched, double mediaSeconds) {
    std::vector<vantel::media::VideoFrame> frames;
    for (int i = 0; i < kDistinctFrames; ++i)
        frames.push_back(vantel::test::makeFrame(kWidth, kHeight, i, 0.0));
    const int total = int(mediaSeconds * kFps);
    int64_t chunk = 0;
    for (int i = 0; i < total; ++i) {
        double t = double(i) / kFps;
        for (; double(chunk) * kChunk / 48000.0 < t + 1.0 / kFps; ++chunk) {
            double at = double(chunk) * kChunk / 48000.0;
            if (i > 0)
                waitUntil(
                    [&] { return watched.writer->audioReady(vantel::media::AudioTrack::game); });
            buffer.appendAudio(vantel::test::makeTone(440, 2, kChunk, kClockStart + at), false);
        }
        if (i > 0)
            waitUntil([&] { return watched.writer->videoReady(); });
        const AVFrame* source = frames[size_t(i % kDistinctFrames)].frame.get();
        buffer.appendVideo({vantel::media::FramePtr(av_frame_clone(source)), kClockStart + t});
        if (buffer.failed())
            throw std::runtime_error(*buffer.failed());
    }
}

void run(const Options& options) {
    WatchedFactory watched;
    vantel::ReplayBuffer buffer(vantel::ReplayBuffer::Config{.width = kWidth,
                                                             .height = kHeight,
                                                             .fps = kFps,
                                                             .codec = options.hevc
                                                                          ? vantel::Codec::hevc
                                                                          : vantel::Codec::h264,
                                                             .keepSeconds = options.keep},
                                watched.factory());
    Clock::time_point began = Clock::now();
    feed(buffer, watched, options.seconds);
    buffer.finish();
    double wall = seconds(began);

    size_t onDisk = 0;
    for (const auto& entry : fs::directory_iterator(buffer.dir()))
        onDisk += entry.path().extension() == ".m4s";

    Clock::time_point snapBegan = Clock::now();
    vantel::ReplayBuffer::Snapshot snap = buffer.snapshot(30.0);
    double snapshotSeconds = seconds(snapBegan);

    std::string command = "cat";
    for (const auto& segment : newest(buffer.segments(), 30.0))
        command += " '" + segment.url.string() + "'";
    fs::path catOut = fs::temp_directory_path() / "bench-cat.mp4";
    command += " > '" + catOut.string() + "'";
    Clock::time_point catBegan = Clock::now();
    int catStatus = std::system(command.c_str());
    double catSeconds = seconds(catBegan);

    std::cout << "encode_speed_x: " << options.seconds / wall << "\n"
              << "cpu_seconds_per_media_second: " << cpuSeconds() / options.seconds << "\n"
              << "segments_on_disk: " << onDisk << "\n"
              << "peak_rss_mb: " << peakRssMb() << "\n"
              << "snapshot_seconds: " << snapshotSeconds << "\n"
              << "cat_seconds: " << (catStatus == 0 ? catSeconds : -1.0) << "\n";
    fs::remove(snap.url);
    fs::remove(catOut);
    buffer.discard();
}

// A private cache and temporary folder, so the bench leaves nothing in the user's.
fs::path privateFolders() {
    std::string pattern = (fs::temp_directory_path() / "bench-replay-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("cannot create a temporary folder");
    fs::path home(pattern);
    fs::create_directories(home / "tmp");
    setenv("XDG_CACHE_HOME", home.c_str(), 1);
    setenv("TMPDIR", (home / "tmp").c_str(), 1);
    return home;
}

} // namespace

int main(int argc, char** argv) {
    av_log_set_level(AV_LOG_ERROR);
    Options options = parse(argc, argv);
    fs::path home;
    int status = 0;
    try {
        home = privateFolders();
        run(options);
    } catch (const std::exception& error) {
        std::cerr << "bench-replay: " << error.what() << "\n";
        status = 1;
    }
    std::error_code ignored;
    if (!home.empty())
        fs::remove_all(home, ignored);
    return status;
}
