#pragma once

// The segments of one encoder run as a save reads them: the run's initialisation segment and its
// media segment files, oldest first. Consecutive files of one run join behind its
// initialisation segment; two runs each start their timeline at zero, and the direct save joins
// them only where their tracks are the same (see DirectSave.h).

#include <cstdint>
#include <filesystem>
#include <vector>

namespace vantel::media {

struct SegmentRun {
    std::vector<uint8_t> init;
    std::vector<std::filesystem::path> files;
};

} // namespace vantel::media
