#include "platform/capture/wayland/PictureBounds.h"

namespace vantel::platform {

std::optional<int> pictureStride(std::size_t mapSize, std::uint32_t offset, std::int32_t stride,
                                 int width, int height, int bytesPerPixel) {
    if (width <= 0 || height <= 0 || bytesPerPixel <= 0)
        return std::nullopt;
    const std::uint64_t row = std::uint64_t(width) * std::uint64_t(bytesPerPixel);
    const std::int64_t rows = stride <= 0 ? std::int64_t(row) : std::int64_t(stride);
    if (rows < std::int64_t(row) || rows > INT32_MAX)
        return std::nullopt;
    // The last row needs only its own pixels, not a whole stride.
    const std::uint64_t end =
        std::uint64_t(offset) + std::uint64_t(rows) * std::uint64_t(height - 1) + row;
    if (end > mapSize)
        return std::nullopt;
    return int(rows);
}

} // namespace vantel::platform
