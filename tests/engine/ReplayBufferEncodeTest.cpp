// The replay buffer over the real encoder: generated media, faster than real time, through
// retention and into a snapshot that decodes cleanly.

#include "common/PacedWriter.h"
#include "common/Shell.h"
#include "common/SyntheticMedia.h"
#include "engine/ReplayBuffer.h"
#include "media/Fmp4SegmentWriter.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <thread>

namespace fs = std::filesystem;
using namespace vantel;

namespace {

size_t segmentFileCount(const fs::path& dir) {
    size_t count = 0;
    for (const auto& entry : fs::directory_iterator(dir))
        count += entry.path().extension() == ".m4s";
    return count;
}

} // namespace

TEST(ReplayBufferEncode, KeepsTheWindowAndItsSnapshotDecodes) {
    constexpr int kWidth = 160, kHeight = 90, kFps = 30, kSeconds = 40;
    ReplayBuffer buffer(kWidth, kHeight, kFps, Quality::standard, Codec::h264, false, 30,
                        test::PacedWriter::around(media::makeFmp4SegmentWriter()));
    const double firstPts = 5000.0;
    for (int i = 0; i < kSeconds * kFps; ++i) {
        const double pts = firstPts + double(i) / kFps;
        buffer.appendVideo(test::makeFrame(kWidth, kHeight, i, pts));
        buffer.appendAudio(test::makeTone(440, 2, 48000 / kFps, pts), false);
        ASSERT_FALSE(buffer.failed()) << *buffer.failed();
    }
    buffer.finish();

    EXPECT_EQ(buffer.segments().size(), 32u);
    EXPECT_EQ(segmentFileCount(buffer.dir()), 32u);
    EXPECT_EQ(buffer.segments().back().url.filename(), "00000040.m4s");
    EXPECT_NEAR(buffer.bufferedSeconds(), 32.0, 1e-6);

    const auto snap = buffer.snapshot(10);
    EXPECT_NEAR(snap.to, firstPts + kSeconds, 1e-6);
    EXPECT_NEAR(snap.from, snap.to - 10, 1e-6);
    EXPECT_EQ(test::run("ffmpeg -nostdin -v error -i '" + snap.url.string() + "' -f null -"), "");
    EXPECT_EQ(test::run("ffprobe -v error -select_streams v -count_frames -show_entries "
                        "stream=nb_read_frames -of csv=p=0 '" +
                        snap.url.string() + "'"),
              "300\n");
    fs::remove(snap.url);
    buffer.discard();
}

TEST(ReplayBufferEncode, EncodesWithTheFfmpegWriterByDefault) {
    ReplayBuffer buffer(160, 90, 30, Quality::high, Codec::hevc, true, 30);
    buffer.appendVideo(test::makeFrame(160, 90, 0, 1.0));
    buffer.appendAudio(test::makeTone(440, 1, 1600, 1.0), true);
    ASSERT_FALSE(buffer.failed()) << *buffer.failed();
    buffer.finish();
    ASSERT_EQ(buffer.segments().size(), 1u);
    const auto snap = buffer.snapshot(1);
    EXPECT_EQ(test::run("ffprobe -v error -show_entries stream=codec_name -of csv=p=0 '" +
                        snap.url.string() + "'"),
              "hevc\naac\naac\n");
    fs::remove(snap.url);
    buffer.discard();
}
