// The real segmenting writer with libx264/libx265 and AAC, checked through ffmpeg and ffprobe on
// the segments it delivers.

#include "media/Fmp4SegmentWriter.h"

#include "WriterTestSupport.h"
#include "common/SyntheticMedia.h"
#include "common/TestEnv.h"

#include <QJsonArray>
#include <cmath>
#include <gtest/gtest.h>

extern "C" {
#include <libavutil/log.h>
}

namespace vantel::test {
namespace {

using media::Fmp4SegmentWriter;
using media::SegmentWriter;
using media::VideoCodec;
using media::WriterConfig;

constexpr double kFirstPts = 1234.5; // an arbitrary capture clock reading

class Fmp4SegmentWriterTest : public testing::Test {
protected:
    static void SetUpTestSuite() { av_log_set_level(AV_LOG_ERROR); }

    static WriterConfig config(VideoCodec codec, bool mic) {
        WriterConfig c;
        c.width = 320;
        c.height = 180;
        c.fps = 30;
        c.codec = codec;
        c.videoBitRate = 400000;
        c.withMic = mic;
        return c;
    }

    // File time of a capture time, by the writer's documented timeline.
    static double fileTime(double capture) {
        return capture - kFirstPts + Fmp4SegmentWriter::kTimelineOffset;
    }

    static std::filesystem::path path(const std::string& name) { return testHome() / name; }

    // Every segment begins with a key frame exactly at its reported start, and the segments
    // follow each other without gaps.
    static void expectKeyFrameStarts(const CollectingSink& sink, const std::string& name) {
        std::vector<ReceivedSegment> segs = sink.segments();
        writeJoined(path(name), sink, 0, segs.size() - 1);
        auto packets = videoPackets(path(name));
        ASSERT_FALSE(packets.empty());
        for (size_t i = 0; i < segs.size(); ++i) {
            ASSERT_TRUE(segs[i].timing) << "segment " << i;
            // The run's very first frame is written at 0: a fragment cannot delay its start.
            double at = i == 0 ? 0.0 : fileTime(segs[i].timing->start);
            auto it = std::find_if(packets.begin(), packets.end(),
                                   [&](auto& p) { return std::abs(p.first - at) < 1e-4; });
            ASSERT_NE(it, packets.end()) << "no frame at the start of segment " << i;
            EXPECT_TRUE(it->second) << "segment " << i << " does not begin with a key frame";
            if (i + 1 < segs.size()) {
                EXPECT_NEAR(segs[i].timing->start + segs[i].timing->duration,
                            segs[i + 1].timing->start, 1e-6);
            }
        }
    }
};

TEST_F(Fmp4SegmentWriterTest, H264RunOfSegmentsPlaysWithExactTimingAndTracks) {
    CollectingSink sink;
    Fmp4SegmentWriter writer(config(VideoCodec::h264, true), sink);
    ASSERT_TRUE(writer.start(kFirstPts));
    FeedPlan plan;
    plan.seconds = 14.0;
    plan.mic = true;
    ASSERT_TRUE(feed(writer, plan, kFirstPts));
    writer.finish();
    ASSERT_EQ(writer.status(), SegmentWriter::Status::finished) << writer.error();
    EXPECT_EQ(sink.initCount(), 1);

    std::vector<ReceivedSegment> segs = sink.segments();
    ASSERT_GE(segs.size(), 13u);
    EXPECT_NEAR(segs[0].timing->start, kFirstPts, 1e-6);
    for (size_t i = 0; i + 1 < segs.size(); ++i)
        EXPECT_NEAR(segs[i].timing->duration, 1.0, 0.5 / plan.fps) << "segment " << i;
    expectKeyFrameStarts(sink, "all-h264.mp4");

    writeJoined(path("joined.mp4"), sink, 5, 12);
    EXPECT_EQ(run("ffmpeg -v error -i '" + path("joined.mp4").string() + "' -f null -"), "");
    QJsonObject info = probe(path("joined.mp4"));
    QJsonObject format = info["format"].toObject();
    double start = format["start_time"].toString().toDouble();
    double end = format["duration"].toString().toDouble();
    double expectedLength = 0;
    for (size_t i = 5; i <= 12; ++i)
        expectedLength += segs[i].timing->duration;
    EXPECT_NEAR(start, fileTime(segs[5].timing->start), 0.001);
    EXPECT_NEAR(end - start, expectedLength, 1.0 / plan.fps);

    QJsonArray streams = info["streams"].toArray();
    ASSERT_EQ(streams.size(), 3);
    QJsonObject video = streams[0].toObject();
    EXPECT_EQ(video["codec_name"].toString(), "h264");
    EXPECT_EQ(video["has_b_frames"].toInt(), 0);
    EXPECT_EQ(video["color_primaries"].toString(), "bt709");
    EXPECT_EQ(video["color_transfer"].toString(), "bt709");
    EXPECT_EQ(video["color_space"].toString(), "bt709");
    EXPECT_EQ(video["color_range"].toString(), "tv");
    QJsonObject game = streams[1].toObject();
    EXPECT_EQ(game["codec_name"].toString(), "aac");
    EXPECT_EQ(game["profile"].toString(), "LC");
    EXPECT_EQ(game["sample_rate"].toString(), "48000");
    EXPECT_EQ(game["channels"].toInt(), 2);
    EXPECT_EQ(game["tags"].toObject()["language"].toString(), "und");
    QJsonObject mic = streams[2].toObject();
    EXPECT_EQ(mic["codec_name"].toString(), "aac");
    EXPECT_EQ(mic["sample_rate"].toString(), "48000");
    EXPECT_EQ(mic["channels"].toInt(), 1);
}

TEST_F(Fmp4SegmentWriterTest, HevcWithoutMicPlaysAndScalesOddSizedFrames) {
    CollectingSink sink;
    Fmp4SegmentWriter writer(config(VideoCodec::hevc, false), sink);
    ASSERT_TRUE(writer.start(kFirstPts));
    EXPECT_FALSE(writer.audioReady(media::AudioTrack::mic));
    FeedPlan plan;
    plan.seconds = 4.0;
    plan.otherSizeFrom = 2.0;
    ASSERT_TRUE(feed(writer, plan, kFirstPts));
    writer.finish();
    ASSERT_EQ(writer.status(), SegmentWriter::Status::finished) << writer.error();
    ASSERT_GE(sink.segments().size(), 3u);
    expectKeyFrameStarts(sink, "all-hevc.mp4");

    writeJoined(path("hevc.mp4"), sink, 1, sink.segments().size() - 1);
    EXPECT_EQ(run("ffmpeg -v error -i '" + path("hevc.mp4").string() + "' -f null -"), "");
    QJsonArray streams = probe(path("hevc.mp4"))["streams"].toArray();
    ASSERT_EQ(streams.size(), 2);
    EXPECT_EQ(streams[0].toObject()["codec_name"].toString(), "hevc");
    EXPECT_EQ(streams[0].toObject()["codec_tag_string"].toString(), "hvc1");
    EXPECT_EQ(streams[0].toObject()["width"].toInt(), 320);
    EXPECT_EQ(streams[1].toObject()["channels"].toInt(), 2);
}

// Start and end of the first silent stretch (at least 100 ms below -40 dB) in seconds.
std::pair<double, double> silentStretch(const std::vector<float>& samples) {
    const size_t window = 480;
    size_t runStart = 0;
    size_t quiet = 0;
    for (size_t at = 0; at + window <= samples.size(); at += window) {
        float peak = 0;
        for (size_t i = at; i < at + window; ++i)
            peak = std::max(peak, std::abs(samples[i]));
        if (peak < 0.01f) {
            if (quiet++ == 0)
                runStart = at;
        } else if (quiet >= 10) {
            return {runStart / 48000.0, at / 48000.0};
        } else {
            quiet = 0;
        }
    }
    return {-1, -1};
}

TEST_F(Fmp4SegmentWriterTest, AudioKeepsItsPlaceAcrossGapsRepeatsAndOtherRates) {
    CollectingSink sink;
    Fmp4SegmentWriter writer(config(VideoCodec::h264, true), sink);
    ASSERT_TRUE(writer.start(kFirstPts));
    FeedPlan plan;
    plan.seconds = 4.0;
    plan.mic = true;
    plan.micChannels = 2;
    plan.micRate = 44100;
    plan.repeatAt = 1.0;
    plan.gapFrom = 2.0;
    plan.gapTo = 2.4;
    ASSERT_TRUE(feed(writer, plan, kFirstPts));
    writer.finish();
    ASSERT_EQ(writer.status(), SegmentWriter::Status::finished) << writer.error();
    writeJoined(path("gap.mp4"), sink, 0, sink.segments().size() - 1);

    std::vector<float> game = decodeAudio(path("gap.mp4"), 0);
    auto [from, to] = silentStretch(game);
    // Decoded audio begins at file time 0, so the gap sits at its file time.
    EXPECT_NEAR(from, fileTime(kFirstPts + plan.gapFrom), 0.015);
    EXPECT_NEAR(to, fileTime(kFirstPts + plan.gapTo), 0.015);
    double videoEnd = fileTime(kFirstPts + plan.seconds);
    EXPECT_NEAR(game.size() / 48000.0, videoEnd, 0.05);
    std::vector<float> mic = decodeAudio(path("gap.mp4"), 1);
    EXPECT_NEAR(mic.size() / 48000.0, videoEnd, 0.05);
    EXPECT_EQ(silentStretch(mic).first, -1) << "the resampled microphone track has a hole";
}

TEST_F(Fmp4SegmentWriterTest, FrameOfferedWhileEncoderBusyIsRefusedNotQueued) {
    CollectingSink sink;
    sink.hold(); // the writer's thread stops before it takes any frame
    Fmp4SegmentWriter writer(config(VideoCodec::h264, false), sink);
    ASSERT_TRUE(writer.start(kFirstPts));
    ASSERT_TRUE(writer.videoReady());
    writer.appendVideo(makeFrame(320, 180, 0, kFirstPts));
    EXPECT_FALSE(writer.videoReady());
    // Offered anyway: must return at once and leave no trace in the output.
    for (int i = 1; i < 10; ++i)
        writer.appendVideo(makeFrame(320, 180, i, kFirstPts + i / 30.0));
    EXPECT_FALSE(writer.videoReady());
    sink.release();

    FeedPlan plan;
    plan.seconds = 2.0;
    ASSERT_TRUE(feed(writer, plan, kFirstPts + 1.0));
    writer.finish();
    ASSERT_EQ(writer.status(), SegmentWriter::Status::finished) << writer.error();
    writeJoined(path("busy.mp4"), sink, 0, sink.segments().size() - 1);
    auto packets = videoPackets(path("busy.mp4"));
    EXPECT_EQ(packets.size(), 1u + 60u);
    ASSERT_GE(packets.size(), 2u);
    EXPECT_NEAR(packets[1].first, fileTime(kFirstPts + 1.0), 1e-4);
    EXPECT_FALSE(writer.videoReady()) << "a finished writer takes no frames";
}

TEST_F(Fmp4SegmentWriterTest, LifecycleWithoutFramesAndFailureToStart) {
    CollectingSink sink;
    {
        Fmp4SegmentWriter writer(config(VideoCodec::h264, false), sink);
        EXPECT_FALSE(writer.videoReady()) << "not started yet";
        ASSERT_TRUE(writer.start(kFirstPts));
        writer.finish();
        EXPECT_EQ(writer.status(), SegmentWriter::Status::finished);
        EXPECT_EQ(sink.initCount(), 1);
        EXPECT_TRUE(sink.segments().empty());
    }
    WriterConfig broken = config(VideoCodec::h264, false);
    broken.width = 0;
    Fmp4SegmentWriter writer(broken, sink);
    EXPECT_FALSE(writer.start(kFirstPts));
    EXPECT_EQ(writer.status(), SegmentWriter::Status::failed);
    EXPECT_FALSE(writer.error().empty());
    EXPECT_FALSE(writer.videoReady());
    writer.appendVideo(makeFrame(320, 180, 0, kFirstPts));
    writer.finish();
    EXPECT_EQ(writer.status(), SegmentWriter::Status::failed);
}

class ThrowingSink : public CollectingSink {
public:
    void onMediaSegment(std::vector<uint8_t>, std::optional<media::SegmentTiming>) override {
        throw std::runtime_error("disk full");
    }
};

TEST_F(Fmp4SegmentWriterTest, SinkFailureFailsTheWriterInsteadOfTheProcess) {
    ThrowingSink sink;
    Fmp4SegmentWriter writer(config(VideoCodec::h264, false), sink);
    ASSERT_TRUE(writer.start(kFirstPts));
    FeedPlan plan;
    plan.seconds = 2.5;
    feed(writer, plan, kFirstPts); // stops being taken once the writer has failed
    writer.finish();
    EXPECT_EQ(writer.status(), SegmentWriter::Status::failed);
    EXPECT_EQ(writer.error(), "disk full");
    EXPECT_FALSE(writer.videoReady());
    EXPECT_FALSE(writer.audioReady(media::AudioTrack::game));
}

} // namespace
} // namespace vantel::test
