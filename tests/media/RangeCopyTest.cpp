// Pass-through range copies and the probe that measures them, on real FFmpeg files.

#include "media/RangeCopy.h"

#include "common/TestEnv.h"
#include "media/ClipTestSupport.h"
#include "media/FfmpegPtr.h"
#include "media/MediaError.h"
#include "media/MediaProbe.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <set>

namespace vantel::media {
namespace {

namespace fs = std::filesystem;
using test::testHome;

constexpr double frame30 = 1.0 / 30.0;

fs::path freshTarget(const std::string& name) {
    const fs::path p = testHome() / "out" / name;
    fs::create_directories(p.parent_path());
    fs::remove(p);
    return p;
}

bool moovBeforeMdat(const fs::path& file) {
    const auto boxes = test::topLevelBoxes(file);
    const auto moov = std::find(boxes.begin(), boxes.end(), "moov");
    const auto mdat = std::find(boxes.begin(), boxes.end(), "mdat");
    return moov != boxes.end() && mdat != boxes.end() && moov < mdat;
}

TEST(ProbeMedia, ReadsTracksAndTheSnapshotTimeline) {
    const MediaInfo info = probeMedia(test::bufferSnapshot());
    EXPECT_EQ(info.videoTracks, 1);
    EXPECT_EQ(info.audioTracks, 2);
    EXPECT_EQ(info.videoCodec, "h264");
    EXPECT_EQ(info.width, 320);
    EXPECT_EQ(info.height, 180);
    ASSERT_TRUE(info.frameRate);
    EXPECT_NEAR(*info.frameRate, 30.0, 0.01);
    // The snapshot starts with the 4th one-second fragment of the recording.
    EXPECT_NEAR(info.videoStart, 4.0, 0.1);
    EXPECT_NEAR(info.videoEnd - info.videoStart, 8.0, 0.1);
    EXPECT_NEAR(info.duration, 8.0, 0.1);
}

// The shown range comes from the first and the last group of pictures only; with B-frames the
// last shown frame is not the last stored one, and a cut starts with frames the edit list hides.
TEST(ProbeMedia, FindsTheShownRangeOfReorderedAndEditedVideo) {
    const fs::path reordered = test::ffmpegSource(
        "bframes.mp4", "-f lavfi -i testsrc2=size=160x90:rate=30 -t 4 "
                       "-c:v libx264 -preset ultrafast -bf 3 -g 25 -pix_fmt yuv420p");
    const MediaInfo whole = probeMedia(reordered);
    EXPECT_NEAR(whole.videoStart, 0.0, 1e-6);
    EXPECT_NEAR(whole.videoEnd, 4.0, 1e-6);

    const fs::path out = freshTarget("bframes-cut.mp4");
    copyRange(reordered, out, TimeRange{1.1, 3.3});
    const MediaInfo cut = probeMedia(out);
    EXPECT_NEAR(cut.videoStart, 0.0, 1e-6);
    EXPECT_NEAR(cut.videoEnd, 2.2, 1.0 / 30);
}

TEST(CopyRange, CutsASnapshotExactlyWithoutReencoding) {
    const fs::path snap = test::bufferSnapshot();
    const MediaInfo src = probeMedia(snap);
    const fs::path out = freshTarget("cut.mp4");
    const double from = src.videoStart + 1.45; // between key frames
    copyRange(snap, out, TimeRange{from, from + 5.3});

    const MediaInfo info = probeMedia(out);
    EXPECT_NEAR(info.videoStart, 0.0, 1e-6);
    EXPECT_NEAR(info.videoEnd, 5.3, 0.002);
    EXPECT_NEAR(info.duration, 5.3, 0.002);
    EXPECT_EQ(info.videoTracks, 1);
    EXPECT_EQ(info.audioTracks, 2);
    EXPECT_TRUE(moovBeforeMdat(out));
    EXPECT_EQ(test::streamIdentities(out), test::streamIdentities(snap));

    // Every video packet is a byte-identical source packet, and the copy begins at a key frame
    // so the frames before the cut still decode.
    std::set<uint64_t> source;
    for (const auto& p : test::packetsOf(snap, AVMEDIA_TYPE_VIDEO))
        source.insert(p.hash);
    const auto copied = test::packetsOf(out, AVMEDIA_TYPE_VIDEO);
    ASSERT_FALSE(copied.empty());
    EXPECT_TRUE(copied.front().key);
    for (const auto& p : copied)
        EXPECT_TRUE(source.count(p.hash));
    // 5.3 s of frames plus at most one second of lead-in from the key frame.
    EXPECT_GE(copied.size(), 159u);
    EXPECT_LE(copied.size(), 159u + 31u);
}

TEST(CopyRange, TrimsAnEditedClipAndCopiesWholeFiles) {
    const fs::path snap = test::bufferSnapshot();
    const fs::path first = freshTarget("first.mp4");
    const double start = probeMedia(snap).videoStart;
    copyRange(snap, first, TimeRange{start + 0.5, start + 4.5});

    // The first copy starts with frames hidden by its edit list; a trim of it stays exact.
    const fs::path trimmed = freshTarget("trimmed.mp4");
    copyRange(first, trimmed, TimeRange{1.0, 2.5});
    const MediaInfo t = probeMedia(trimmed);
    EXPECT_NEAR(t.videoStart, 0.0, 1e-6);
    EXPECT_NEAR(t.videoEnd, 1.5, 0.002);
    EXPECT_NEAR(t.duration, 1.5, 0.002);

    const fs::path whole = freshTarget("whole.mp4");
    copyRange(first, whole, std::nullopt);
    EXPECT_NEAR(probeMedia(whole).duration, 4.0, frame30);
    EXPECT_TRUE(moovBeforeMdat(whole));
}

TEST(CopyRange, NeverOverwritesAnExistingFile) {
    const fs::path out = freshTarget("taken.mp4");
    test::writeFile(out, "an earlier clip");
    try {
        copyRange(test::gameAndMicClip(), out, TimeRange{0.0, 1.0});
        FAIL() << "copied over an existing file";
    } catch (const MediaError& e) {
        EXPECT_EQ(e.kind(), MediaError::Kind::openOutput);
    }
    EXPECT_EQ(fs::file_size(out), std::string("an earlier clip").size());
}

TEST(CopyRange, RefusesRangesWithoutVideoAndLeavesNoFile) {
    const fs::path out = freshTarget("outside.mp4");
    EXPECT_THROW(copyRange(test::gameAndMicClip(), out, TimeRange{10.0, 12.0}), MediaError);
    EXPECT_FALSE(fs::exists(out));
}

} // namespace
} // namespace vantel::media
