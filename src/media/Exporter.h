#pragma once

// Writes a copy of a clip with a time range, per-track audio gains mixed to one stereo AAC
// track, an optional height limit and optional H.264 re-encoding. Video is copied unless it must
// be re-encoded; audio is always decoded, mixed and re-encoded. Two pumps, one for video and one
// for audio, run on their own threads ("record.export.v", "record.export.a").

#include "RangeCopy.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>

namespace vantel::media {

struct ExportSettings {
    std::optional<TimeRange> range; // absent: the whole video track
    float gameVolume = 1.0f;        // gain of the first audio track
    float micVolume = 1.0f;         // gain of every further audio track
    std::optional<int> maxHeight;   // scale down to this height when the picture is taller
    bool forceH264 = false;         // re-encode to H.264 when the source is not H.264
    std::optional<int64_t> bitrate; // video bit rate when re-encoding; absent: computed
};

// The size and bit-rate rules, exposed for tests and callers that want to predict the output.
struct ExportPlan {
    int width = 0;
    int height = 0;
    bool scaled = false;
    bool reencode = false;
    int64_t bitrate = 0; // 0 when the video is copied
};
ExportPlan planExport(int sourceWidth, int sourceHeight, bool sourceIsH264,
                      std::optional<double> frameRate, const ExportSettings& settings);

// Progress gets (sample time - start) / length after each video sample, capped at 1, on the
// video pump's thread. Deletes any file at `target` first. Throws MediaError.
void exportClip(const std::filesystem::path& source, const std::filesystem::path& target,
                const ExportSettings& settings, const std::function<void(double)>& progress = {});

} // namespace vantel::media
