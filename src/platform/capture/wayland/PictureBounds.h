#pragma once

// Where one picture lies in a buffer that another process (the compositor, through PipeWire)
// filled. Its chunk says at which offset the picture starts and how far apart its rows are; a
// buggy or hostile producer may say anything there, so both are checked against the mapped size
// before a single pixel is read.

#include <cstddef>
#include <cstdint>
#include <optional>

namespace vantel::platform {

// The row distance to read a picture of `width` x `height` pixels of `bytesPerPixel` bytes with,
// starting `offset` bytes into a mapping of `mapSize` bytes; a `stride` of 0 or below (producers
// that do not say) means rows packed one after the other. Nothing when the picture does not lie
// wholly inside the mapping, or when its rows would overlap (a stride shorter than a row).
std::optional<int> pictureStride(std::size_t mapSize, std::uint32_t offset, std::int32_t stride,
                                 int width, int height, int bytesPerPixel = 4);

} // namespace vantel::platform
