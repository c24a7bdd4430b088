// The replay buffer with the writer it makes by default: HEVC with a microphone track. (Retention
// and snapshots over the real encoder are tested with the save from the buffer.)

#include "common/Shell.h"
#include "common/SyntheticMedia.h"
#include "engine/ReplayBuffer.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace fs = std::filesystem;
using namespace vantel;

TEST(ReplayBufferEncode, EncodesWithTheFfmpegWriterByDefault) {
    ReplayBuffer buffer(ReplayBuffer::Config{
        .width = 160, .height = 90, .fps = 30, .codec = Codec::hevc, .withMic = true});
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
