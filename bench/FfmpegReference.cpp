#include "FfmpegReference.h"

#include <algorithm>
#include <cstdlib>
#include <thread>

namespace vantel::bench {

namespace {

// Our encoder's rule: half the cores, at most four.
int encoderThreads() {
    return std::clamp(int(std::thread::hardware_concurrency()) / 2, 1, 4);
}

int64_t lastStat(const std::string& log, const std::string& key) {
    const size_t at = log.rfind(key);
    return at == std::string::npos ? -1 : std::atoll(log.c_str() + at + key.size());
}

} // namespace

std::vector<std::string> ffmpegEncoderArguments(const ReferenceCapture& c) {
    const std::string fps = std::to_string(c.fps);
    return {"-pix_fmt",     "yuv420p",
            "-c:v",         "libx264",
            "-preset",      "superfast",
            "-tune",        "zerolatency",
            "-profile:v",   "high",
            "-b:v",         std::to_string(c.bitRate),
            "-g",           fps,
            "-bf",          "0",
            "-x264-params", "scenecut=0:min-keyint=1",
            "-threads",     std::to_string(encoderThreads()),
            "-c:a",         "aac",
            "-b:a",         "256k",
            "-movflags",    "frag_keyframe+empty_moov+default_base_moof",
            c.output};
}

std::vector<std::string> ffmpegCaptureArguments(const ReferenceCapture& c) {
    std::vector<std::string> args{"-hide_banner",
                                  "-nostdin",
                                  "-y",
                                  "-f",
                                  "x11grab",
                                  "-draw_mouse",
                                  c.drawMouse ? "1" : "0",
                                  "-framerate",
                                  std::to_string(c.fps),
                                  "-i",
                                  c.display,
                                  "-f",
                                  "pulse",
                                  "-sample_rate",
                                  "48000",
                                  "-channels",
                                  "2",
                                  "-i",
                                  "@DEFAULT_MONITOR@",
                                  "-t",
                                  std::to_string(c.seconds),
                                  "-vf",
                                  "scale=" + std::to_string(c.width) + ":" +
                                      std::to_string(c.height)};
    for (std::string& a : ffmpegEncoderArguments(c))
        args.push_back(std::move(a));
    return args;
}

std::string toneCommand(int seconds) {
    return "sox -q -n -t raw -r 48000 -e float -b 32 -c 2 - synth " + std::to_string(seconds) +
           " sine 440 vol 0.3 | pacat --raw --latency-msec=20 --format=float32le --rate=48000 "
           "--channels=2";
}

FfmpegStats parseFfmpegStats(const std::string& log) {
    return {lastStat(log, "frame="), lastStat(log, "drop="), lastStat(log, "dup=")};
}

} // namespace vantel::bench
