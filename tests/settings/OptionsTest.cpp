// The recording choices, the bit-rate rule and the size estimate the settings window prints.

#include "engine/RecordingOptions.h"
#include "settings/SizeEstimate.h"

#include <gtest/gtest.h>

namespace vantel {
namespace {

TEST(RecordingOptions, RawValuesMatchExactlyAndRoundTrip) {
    EXPECT_FALSE(qualityFromRaw("High"));
    EXPECT_FALSE(qualityFromRaw("high "));
    EXPECT_FALSE(codecFromRaw("H264"));
    EXPECT_FALSE(codecFromRaw("h265"));
    EXPECT_FALSE(captureModeFromRaw("Always"));
    EXPECT_FALSE(captureModeFromRaw(""));
    for (Quality q : allQualities)
        EXPECT_EQ(qualityFromRaw(rawValue(q)), q);
    for (Codec c : allCodecs)
        EXPECT_EQ(codecFromRaw(rawValue(c)), c);
    for (CaptureMode m : allCaptureModes)
        EXPECT_EQ(captureModeFromRaw(rawValue(m)), m);
    EXPECT_EQ(qualityFromRaw("standard"), Quality::standard);
    EXPECT_EQ(codecFromRaw("hevc"), Codec::hevc);
    EXPECT_EQ(captureModeFromRaw("always"), CaptureMode::always);
}

TEST(RecordingOptions, BitRateRuleScalesByCodecAndIsCapped) {
    EXPECT_DOUBLE_EQ(videoBitRate(2560, 1440, 60, Quality::high, Codec::h264), 39'813'120.0);
    EXPECT_DOUBLE_EQ(videoBitRate(2560, 1440, 60, Quality::high, Codec::hevc), 25'878'528.0);
    EXPECT_DOUBLE_EQ(videoBitRate(1920, 1080, 30, Quality::standard, Codec::h264), 6'220'800.0);
    EXPECT_DOUBLE_EQ(videoBitRate(3840, 2160, 120, Quality::ultra, Codec::h264), 160'000'000.0);
    // The cap applies after the HEVC factor: 298.6 M x 0.65 is still above it.
    EXPECT_DOUBLE_EQ(videoBitRate(3840, 2160, 120, Quality::ultra, Codec::hevc), 160'000'000.0);
}

QString estimateText(int mbps, int mb) {
    return QStringLiteral("About %1 Mbps. A one minute clip is about %2 MB. The replay is kept on "
                          "disk, not in memory.")
        .arg(mbps)
        .arg(mb);
}

TEST(SizeEstimate, TextsForTypicalAndExtremeChoices) {
    EXPECT_EQ(SizeEstimate(1440, 60, Quality::high, Codec::h264).text(), estimateText(40, 299));
    EXPECT_EQ(SizeEstimate(1440, 60, Quality::high, Codec::hevc).text(), estimateText(26, 194));
    EXPECT_EQ(SizeEstimate(2160, 120, Quality::ultra, Codec::h264).text(), estimateText(160, 1200));
}

TEST(SizeEstimate, NativeHeightComesFromTheMainScreenElse1080) {
    // 1920 x 1080 x 60 x 0.18 = 22,394,880 bits per second.
    EXPECT_EQ(SizeEstimate(0, 60, Quality::high, Codec::h264).text(), estimateText(22, 168));
    // A 1600-line screen (800 points at scale 2): the width is not rounded to whole pixels.
    const SizeEstimate retina(0, 60, Quality::high, Codec::h264, 1600.0);
    EXPECT_NEAR(retina.bitRate(), 1600.0 * 1600.0 * 16.0 / 9.0 * 60 * 0.18, 1e-3);
    EXPECT_EQ(retina.text(), estimateText(49, 369));
    // A chosen height wins over the screen.
    EXPECT_EQ(SizeEstimate(1440, 60, Quality::high, Codec::h264, 2160.0).text(),
              estimateText(40, 299));
}

} // namespace
} // namespace vantel
