#pragma once

// The samples of a time range of indexed fragments, chosen and timed as the pass-through copy
// (RangeCopy) chooses and times them when it demuxes the joined segments: the newest `seconds`
// of the video, from the key frame before the start, every track's times shifted so the start
// is zero, a last sample that runs past the end shortened to end there. Plain data; no I/O.

#include "FragmentIndex.h"

#include <vector>

namespace vantel::media {

struct CutSample {
    int64_t dts = 0; // in the cut track's timescale, zero at the range start
    int64_t cts = 0; // pts - dts
    int64_t duration = 0;
    uint32_t size = 0;
    bool key = false;
    uint32_t file = 0;
    uint64_t offset = 0;
};

struct CutTrack {
    const FragmentTrack* source = nullptr; // borrowed from the index
    uint32_t timescale = 0;
    std::vector<CutSample> samples;
};

struct ClipCut {
    double start = 0.0; // range on the segments' timeline, seconds
    double end = 0.0;
    std::vector<CutTrack> tracks;    // video and audio tracks in the index's order
    std::vector<uint64_t> fileSizes; // of the segment files, by number
};

// Cuts the newest `seconds` (everything when longer than what is there). Throws
// MediaError(noVideo) without a video track and MediaError(read) when the range holds no video.
ClipCut cutNewest(const FragmentIndex& index, double seconds);

} // namespace vantel::media
