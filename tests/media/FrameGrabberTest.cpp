// Thumbnails: size, orientation and JPEG output of jpegFrame on real files.

#include "media/FrameGrabber.h"

#include "common/TestEnv.h"
#include "media/ClipTestSupport.h"
#include "media/FfmpegPtr.h"
#include "media/MediaInput.h"

#include <gtest/gtest.h>

namespace vantel::media {
namespace {

namespace fs = std::filesystem;

// Decodes JPEG bytes back into a picture.
FramePtr decodeJpeg(const std::vector<uint8_t>& bytes) {
    const fs::path file = test::testHome() / "thumb.jpg";
    test::writeFile(file, std::string(bytes.begin(), bytes.end()));
    InputContextPtr fmt = openMediaInput(file);
    CodecContextPtr dec = openDecoder(fmt->streams[0]);
    PacketPtr pkt = makePacket();
    FramePtr frame = makeFrame();
    EXPECT_GE(av_read_frame(fmt.get(), pkt.get()), 0);
    EXPECT_GE(avcodec_send_packet(dec.get(), pkt.get()), 0);
    EXPECT_EQ(avcodec_receive_frame(dec.get(), frame.get()), 0);
    return frame;
}

// Red shows as high Cr, blue as high Cb.
bool redAt(const AVFrame* f, int x, int y) {
    const int cb = f->data[1][(y / 2) * f->linesize[1] + x / 2];
    const int cr = f->data[2][(y / 2) * f->linesize[2] + x / 2];
    return cr > 180 && cb < 128;
}

TEST(JpegFrame, ScalesToFitKeepingProportions) {
    const auto jpeg = jpegFrame(test::gameAndMicClip(), 160, 0.5);
    ASSERT_TRUE(jpeg);
    ASSERT_GT(jpeg->size(), 2u);
    EXPECT_EQ((*jpeg)[0], 0xFF);
    EXPECT_EQ((*jpeg)[1], 0xD8);
    FramePtr pic = decodeJpeg(*jpeg);
    EXPECT_EQ(pic->width, 160);
    EXPECT_EQ(pic->height, 90);
    EXPECT_EQ(pic->color_range == AVCOL_RANGE_JPEG || pic->format == AV_PIX_FMT_YUVJ420P, true);

    // Never enlarged.
    FramePtr full = decodeJpeg(*jpegFrame(test::gameAndMicClip(), 640, 0.5));
    EXPECT_EQ(full->width, 320);
    EXPECT_EQ(full->height, 180);
}

TEST(JpegFrame, TurnsRotatedVideoUpright) {
    // Left half red, stored with a display matrix that turns it a quarter counter-clockwise:
    // upright, as players show it, the red half is at the bottom.
    const fs::path plain = test::ffmpegSource(
        "halves.mp4", "-f lavfi -i color=c=blue:s=160x90:r=10:d=1 "
                      "-vf drawbox=x=0:y=0:w=80:h=90:c=red:t=fill -c:v libx264 -preset "
                      "ultrafast -pix_fmt yuv420p");
    const fs::path src = test::ffmpegSource(
        "halves-rotated.mp4", "-i '" + plain.string() + "' -c copy -metadata:s:v:0 rotate=90");
    const auto jpeg = jpegFrame(src, 64, 0.5);
    ASSERT_TRUE(jpeg);
    FramePtr pic = decodeJpeg(*jpeg);
    EXPECT_EQ(pic->width, 36);
    EXPECT_EQ(pic->height, 64);
    EXPECT_FALSE(redAt(pic.get(), pic->width / 2, 4));
    EXPECT_TRUE(redAt(pic.get(), pic->width / 2, pic->height - 4));
}

TEST(JpegFrame, GivesNothingForFilesWithoutPictures) {
    const fs::path text = test::testHome() / "notes.mp4";
    test::writeFile(text, "this is not a video at all\n");
    EXPECT_FALSE(jpegFrame(text, 640));
    EXPECT_FALSE(jpegFrame(test::testHome() / "missing.mp4", 640));
    const fs::path tone = test::ffmpegSource(
        "tone.m4a", "-f lavfi -i sine=frequency=440:sample_rate=48000:duration=1 -c:a aac");
    EXPECT_FALSE(jpegFrame(tone, 640));
    EXPECT_FALSE(jpegFrame(test::gameAndMicClip(), 0));
}

} // namespace
} // namespace vantel::media
