#pragma once

// One picture of a video as JPEG bytes, for thumbnails.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

namespace vantel::media {

// Decodes the frame nearest `at` seconds that is cheap to reach (the key frame before it),
// turns it upright by the display matrix, scales it to fit within maxSize x maxSize keeping its
// proportions, and encodes it as JPEG at quality 82. Nothing when no frame can be made.
std::optional<std::vector<uint8_t>> jpegFrame(const std::filesystem::path& file, double maxSize,
                                              double at = 0.5);

} // namespace vantel::media
