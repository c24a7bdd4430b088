#pragma once

// Saving the newest seconds of a replay buffer straight from its segment files: the clip's index
// is built from what the segments say (FragmentIndex, ClipCut, ProgressiveMp4) and its media
// bytes are copied from the segment files in the kernel (FileCopy). The result is the clip the
// pass-through copy (RangeCopy) makes of the joined segments, packet for packet, while the media
// is written once instead of three times.
//
// Runs on the calling thread. The segment files are opened first and read through those
// descriptors, so the buffer may delete them meanwhile.
//
// Several runs (a recording restarted after a failure): the newest run decides the clip's tracks;
// an earlier run joins only when its tracks are the same (kind, time scale, sample description
// and fragment defaults), and its samples then follow the later run's without the time between
// them. The first run that differs, and everything before it, is left out.

#include "FileCopy.h"
#include "SegmentRun.h"

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
// segments of `runs` (oldest first) into `target`, under a partial name that is renamed when
// complete. Only the newest unbroken stretch of files counts: a segment file that cannot be
// opened (retention deleted it, or its folder went) ends the clip there, with nothing older.
// Fails when `target` exists (MediaError openOutput), for damaged segments of the newest run
// (MediaError openInput), segments without video (MediaError noVideo) and when reading or
// writing fails (MediaError read or write); no file is left behind on failure.
DirectSaveResult saveNewest(const std::vector<SegmentRun>& runs, double seconds,
                            const std::filesystem::path& target,
                            CopyMethod method = CopyMethod::kernel);
// The same for the segments of a single run.
DirectSaveResult saveNewest(const std::vector<uint8_t>& initSegment,
                            const std::vector<std::filesystem::path>& segments, double seconds,
                            const std::filesystem::path& target,
                            CopyMethod method = CopyMethod::kernel);

} // namespace vantel::media
