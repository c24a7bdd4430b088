#pragma once
// The ffmpeg command-line tool as the reference the capture benchmarks measure against: the same
// X11 screen and PulseAudio sound, scaled to the same size, encoded with the settings of our
// H.264 encoder (preset, tune, key frames, bit rate, encoder threads).

#include <cstdint>
#include <string>
#include <vector>

namespace vantel::bench {

struct ReferenceCapture {
    std::string display;
    int width = 0, height = 0, fps = 0;
    int64_t bitRate = 0;
    int seconds = 0;
    bool drawMouse = false;
    std::string output;
};

// The arguments after "ffmpeg" that record `capture` (the default sink's monitor as the sound).
std::vector<std::string> ffmpegCaptureArguments(const ReferenceCapture& capture);
// Only the encoding part of those (pixel format, encoders and their settings, the output), for
// a reference that encodes given pictures instead of capturing them.
std::vector<std::string> ffmpegEncoderArguments(const ReferenceCapture& capture);

// A shell command playing a 440 Hz tone into the default sink for `seconds`. It writes in 20 ms
// blocks: a player that writes seconds at a time makes the monitor deliver in bursts, ffmpeg's
// pulse input then blocks its screen grab, and ffmpeg repeats most frames instead of encoding
// them, which makes the reference look far cheaper than the work it claims to do.
std::string toneCommand(int seconds);

// From the last progress line of ffmpeg's log; -1 where a figure is missing.
struct FfmpegStats {
    int64_t frames = -1, dropped = -1, duplicated = -1;
};
FfmpegStats parseFfmpegStats(const std::string& log);

} // namespace vantel::bench
