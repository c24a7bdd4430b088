#pragma once

// Source files and measurements for the clip media tests. Sources are made once per process with
// the ffmpeg command-line tool in the test home; measurements read results back with FFmpeg.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace vantel::test {

// Runs ffmpeg with `args` (quiet, overwriting) to make testHome()/sources/name once; returns
// the path.
std::filesystem::path ffmpegSource(const std::string& name, const std::string& args);

// 320x180 at 30 fps, H.264 with a key frame each second, a 440 Hz game track and a 1200 Hz
// microphone track, `seconds` long.
std::filesystem::path gameAndMicClip(double seconds = 3.0);

// A fragmented MP4 like a replay-buffer snapshot: the initialisation segment followed by the
// media segments from the 4th on, so its timeline starts near 4 s. 12 s recorded, ~8 s kept.
std::filesystem::path bufferSnapshot();

// Names of the top-level boxes in file order.
std::vector<std::string> topLevelBoxes(const std::filesystem::path& file);

struct PacketInfo {
    int64_t size = 0;
    uint64_t hash = 0;
    bool key = false;
};
// Every packet of the first stream of `type`, in file order.
std::vector<PacketInfo> packetsOf(const std::filesystem::path& file, int type);

// Codec parameters of every stream, for comparing copies: codec tag and extradata.
struct StreamIdentity {
    int type = 0;
    uint32_t tag = 0;
    std::vector<uint8_t> extradata;
    bool operator==(const StreamIdentity&) const = default;
};
std::vector<StreamIdentity> streamIdentities(const std::filesystem::path& file);

// The first audio track decoded to mono float (average of its channels) and its sample rate.
struct Pcm {
    std::vector<float> samples;
    int rate = 0;
};
Pcm decodeAudio(const std::filesystem::path& file);

// Presented time in seconds of the first video frame whose mean luma exceeds 100, or -1.
double firstBrightFrame(const std::filesystem::path& file);
// Time in seconds of the first sample of `pcm` louder than 0.05, or -1.
double firstLoudSample(const Pcm& pcm);

// Power of `freq` in `pcm` (Goertzel), normalised by length.
double tonePower(const Pcm& pcm, double freq);
double rms(const Pcm& pcm);

} // namespace vantel::test
