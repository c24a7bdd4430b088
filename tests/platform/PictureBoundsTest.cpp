// Where a picture from another process lies in its buffer: only a picture that lies wholly
// inside the mapping, with rows that do not overlap, is ever read.

#include "platform/capture/wayland/PictureBounds.h"

#include <cstdint>
#include <gtest/gtest.h>

using vantel::platform::pictureStride;

namespace {

constexpr int kWidth = 1280;
constexpr int kHeight = 720;
constexpr int kRow = kWidth * 4;
constexpr std::size_t kSize = std::size_t(kRow) * kHeight;

} // namespace

TEST(PictureBounds, PicturesThatFitTheirBuffer) {
    EXPECT_EQ(pictureStride(kSize, 0, kRow, kWidth, kHeight), kRow);
    EXPECT_EQ(pictureStride(kSize, 0, 0, kWidth, kHeight), kRow) << "0: rows packed";
    EXPECT_EQ(pictureStride(kSize, 0, -1, kWidth, kHeight), kRow) << "not said: rows packed";
    // Padded rows: the last row needs only its own pixels, not the padding after it.
    const std::size_t padded = std::size_t(kRow + 64) * (kHeight - 1) + kRow;
    EXPECT_EQ(pictureStride(padded, 0, kRow + 64, kWidth, kHeight), kRow + 64);
    EXPECT_EQ(pictureStride(kSize + 100, 100, kRow, kWidth, kHeight), kRow);
}

TEST(PictureBounds, PicturesOutsideOrOverlappingAreRefused) {
    EXPECT_FALSE(pictureStride(kSize, 1, kRow, kWidth, kHeight)) << "one byte out at the end";
    EXPECT_FALSE(pictureStride(kSize - 1, 0, kRow, kWidth, kHeight));
    EXPECT_FALSE(pictureStride(kSize, UINT32_MAX, kRow, kWidth, kHeight));
    EXPECT_FALSE(pictureStride(kSize, 0, kRow + 4, kWidth, kHeight)) << "rows too far apart";
    EXPECT_FALSE(pictureStride(kSize, 0, INT32_MAX, kWidth, kHeight));
    EXPECT_FALSE(pictureStride(kSize, 1, -1, kWidth, kHeight)) << "packed, but one byte out";
    EXPECT_FALSE(pictureStride(kSize, 0, kRow - 4, kWidth, kHeight)) << "rows overlapping";
    EXPECT_FALSE(pictureStride(0, 0, 0, kWidth, kHeight)) << "nothing mapped";
    EXPECT_FALSE(pictureStride(kSize, 0, kRow, 0, kHeight));
    EXPECT_FALSE(pictureStride(kSize, 0, kRow, kWidth, -1));
}

TEST(PictureBounds, TheLargestSizesDoNotOverflow) {
    const std::size_t huge = std::size_t(16384) * 4 * 16384;
    EXPECT_EQ(pictureStride(huge, 0, 16384 * 4, 16384, 16384), 16384 * 4);
    EXPECT_FALSE(pictureStride(huge, 0, 16384 * 4 + 4, 16384, 16384));
}
