#pragma once

// Pass-through copy of a time range of a media file into an MP4 with its index at the front.
// No re-encoding: every track's packets are copied unchanged. The cut is exact to the frame:
// copying starts at the key frame before `from`, the frames before `from` get negative times and
// the muxer writes an edit list, so the presented range is [from, to).

#include <filesystem>
#include <optional>

namespace vantel::media {

struct TimeRange {
    double start = 0.0; // seconds on the source's presentation timeline
    double end = 0.0;
    double duration() const { return end - start; }
};

// Copies `range` (the whole file when absent) of `source` to `target`. Fails when `target`
// exists (MediaError openOutput) so no clip is overwritten. Throws MediaError; a partial target
// is removed before throwing.
void copyRange(const std::filesystem::path& source, const std::filesystem::path& target,
               std::optional<TimeRange> range);

} // namespace vantel::media
