#pragma once

// Saving the newest seconds of a replay buffer straight from its segment files: the clip's index
// is built from what the segments say (FragmentIndex, ClipCut, ProgressiveMp4) and its media
// bytes are copied from the segment files in the kernel (FileCopy). The result is the clip the
// pass-through copy (RangeCopy) makes of the joined segments, packet for packet, while the media
// is written once instead of three times.
//
// Runs on the calling thread. The segment files are opened first and read through those
// descriptors, so the buffer may delete them meanwhile.

#include "FileCopy.h"

#include <cstdint>
#include <filesystem>
#include <vector>

namespace vantel::media {

struct DirectSaveResult {
    uint64_t bytes = 0;      // the clip's size
    bool kernelCopy = false; // whether the kernel copied media bytes
    double duration = 0.0;   // seconds, as the clip's header gives it
    int audioTracks = 0;
};

// Writes the newest `seconds` of the video (everything when longer) with every track of the
// segments into `target`, under a partial name that is renamed when complete. A segment file
// that cannot be opened is left out, as the joined snapshot leaves it out. Fails when `target`
// exists (MediaError openOutput), for damaged segments (MediaError openInput), segments without
// video (MediaError noVideo) and when reading or writing fails (MediaError read or write); no
// file is left behind on failure.
DirectSaveResult saveNewest(const std::vector<uint8_t>& initSegment,
                            const std::vector<std::filesystem::path>& segments, double seconds,
                            const std::filesystem::path& target,
                            CopyMethod method = copyMethodFromEnvironment());

} // namespace vantel::media
