// Clips written straight from real encoder segments, checked packet for packet against the
// pass-through copy of the joined segments, which stays the reference.

#include "media/DirectSave.h"

#include "WriterTestSupport.h"
#include "common/TestEnv.h"
#include "media/ClipCut.h"
#include "media/ClipTestSupport.h"
#include "media/FfmpegPtr.h"
#include "media/Fmp4SegmentWriter.h"
#include "media/FragmentIndex.h"
#include "media/MediaError.h"
#include "media/MediaInput.h"
#include "media/MediaProbe.h"
#include "media/Mp4Box.h"
#include "media/ProgressiveMp4.h"
#include "media/RangeCopy.h"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <gtest/gtest.h>
#include <random>
#include <sstream>

namespace vantel::test {
namespace {

namespace fs = std::filesystem;
using media::VideoCodec;

struct BufferKind {
    VideoCodec codec;
    bool mic;
    int fps;
};

std::string nameOf(const BufferKind& kind) {
    return std::string(kind.codec == VideoCodec::h264 ? "h264" : "hevc") +
           (kind.mic ? "_mic_" : "_") + std::to_string(kind.fps);
}

// A run of a real writer, its segments as numbered files like the replay buffer's.
struct RecordedBuffer {
    std::vector<uint8_t> init;
    std::vector<fs::path> files;
};

RecordedBuffer record(const BufferKind& kind, const fs::path& dir) {
    media::WriterConfig config;
    config.width = 160;
    config.height = 90;
    config.fps = kind.fps;
    config.codec = kind.codec;
    config.videoBitRate = 300000;
    config.withMic = kind.mic;
    CollectingSink sink;
    media::Fmp4SegmentWriter writer(config, sink);
    EXPECT_TRUE(writer.start(500.0));
    FeedPlan plan;
    plan.width = config.width;
    plan.height = config.height;
    plan.fps = kind.fps;
    plan.seconds = 7.5; // the last segment ends half-way through a second
    plan.mic = kind.mic;
    EXPECT_TRUE(feed(writer, plan, 500.0));
    writer.finish();
    RecordedBuffer buffer{sink.init(), {}};
    fs::remove_all(dir);
    fs::create_directories(dir);
    int seq = 0;
    for (const ReceivedSegment& segment : sink.segments()) {
        buffer.files.push_back(dir / (std::to_string(seq++) + ".m4s"));
        std::ofstream(buffer.files.back(), std::ios::binary)
            .write(reinterpret_cast<const char*>(segment.bytes.data()),
                   std::streamsize(segment.bytes.size()));
    }
    return buffer;
}

// Today's save: join, probe, pass-through copy of [max(start, end - seconds), end].
void referenceSave(const RecordedBuffer& buffer, double seconds, const fs::path& target) {
    const fs::path joined = target.string() + ".joined.mp4";
    {
        std::ofstream out(joined, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(buffer.init.data()),
                  std::streamsize(buffer.init.size()));
        for (const fs::path& file : buffer.files)
            if (fs::exists(file))
                out << std::ifstream(file, std::ios::binary).rdbuf();
    }
    const media::MediaInfo info = media::probeMedia(joined);
    const double end = info.videoEnd;
    const double start = std::min(std::max(info.videoStart, end - seconds), end);
    fs::remove(target);
    media::copyRange(joined, target, media::TimeRange{start, end});
    fs::remove(joined);
}

// Every packet of every stream as libavformat reads it back: times, key flag, size, data hash.
std::vector<std::string> packetTable(const fs::path& file) {
    media::InputContextPtr in = media::openMediaInput(file);
    std::vector<std::string> rows;
    media::PacketPtr pkt = media::makePacket();
    while (av_read_frame(in.get(), pkt.get()) >= 0) {
        uint64_t hash = 1469598103934665603ull;
        for (int i = 0; i < pkt->size; ++i)
            hash = (hash ^ pkt->data[i]) * 1099511628211ull;
        std::ostringstream row;
        row << pkt->stream_index << " pts " << pkt->pts << " dts " << pkt->dts << " dur "
            << pkt->duration << " key " << (pkt->flags & AV_PKT_FLAG_KEY) << " size " << pkt->size
            << " hash " << hash;
        rows.push_back(row.str());
        av_packet_unref(pkt.get());
    }
    std::stable_sort(rows.begin(), rows.end(), [](const std::string& a, const std::string& b) {
        return a.front() < b.front(); // per stream, each in its own order
    });
    return rows;
}

std::vector<uint8_t> bytesOf(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// The timing and sample tables of the index, box by box: what a player reads beyond the packets
// libavformat hands out (the last sample's own duration, for one).
std::vector<std::string> timingBoxes(const fs::path& file) {
    const std::vector<uint8_t> bytes = bytesOf(file);
    std::vector<std::string> found;
    const auto walk = [&](auto& self, std::span<const uint8_t> within) -> void {
        for (const media::Box& box : media::childBoxes(within)) {
            const std::string type{char(box.type >> 24), char(box.type >> 16), char(box.type >> 8),
                                   char(box.type)};
            if (type == "moov" || type == "trak" || type == "edts" || type == "mdia" ||
                type == "minf" || type == "stbl")
                self(self, box.payload);
            else if (type == "ftyp" || type == "mvhd" || type == "tkhd" || type == "elst" ||
                     type == "mdhd" || type == "stts" || type == "ctts" || type == "stss" ||
                     type == "stsz" || type == "sgpd" || type == "sbgp")
                found.push_back(type + " " + std::string(box.whole.begin(), box.whole.end()));
        }
    };
    walk(walk, bytes);
    return found;
}

void expectSameClip(const fs::path& direct, const fs::path& reference, const std::string& what) {
    SCOPED_TRACE(what);
    EXPECT_EQ(packetTable(direct), packetTable(reference));
    EXPECT_TRUE(timingBoxes(direct) == timingBoxes(reference));
    EXPECT_EQ(media::probeHeaders(direct).duration, media::probeHeaders(reference).duration);
    const auto boxes = topLevelBoxes(direct);
    const auto moov = std::find(boxes.begin(), boxes.end(), "moov");
    EXPECT_LT(moov, std::find(boxes.begin(), boxes.end(), "mdat"));
    EXPECT_EQ(run("ffmpeg -nostdin -v error -i '" + direct.string() + "' -f null - 2>&1"), "");
}

class DirectSaveMatrix : public testing::TestWithParam<BufferKind> {};

TEST_P(DirectSaveMatrix, GivesThePassThroughClipPacketForPacket) {
    const BufferKind kind = GetParam();
    const fs::path dir = testHome() / ("direct-" + nameOf(kind));
    RecordedBuffer buffer = record(kind, dir / "segments");
    ASSERT_GE(buffer.files.size(), 7u);
    const fs::path direct = dir / "direct.mp4";
    const fs::path reference = dir / "reference.mp4";

    // Mid-segment starts, the exact-length cut, and more than is there.
    for (double seconds : {2.5, 5.3, 100.0}) {
        fs::remove(direct);
        const media::DirectSaveResult saved = media::saveNewest(buffer.init, buffer.files, seconds,
                                                                direct, media::CopyMethod::kernel);
        EXPECT_TRUE(saved.kernelCopy);
        const media::MediaInfo read = media::probeHeaders(direct);
        EXPECT_EQ(saved.duration, read.duration) << "the save's own word for the clip";
        EXPECT_EQ(saved.audioTracks, read.audioTracks);
        EXPECT_EQ(saved.bytes, fs::file_size(direct));
        referenceSave(buffer, seconds, reference);
        expectSameClip(direct, reference, std::to_string(seconds) + " s");
        if (seconds == 5.3) {
            EXPECT_NEAR(media::probeHeaders(direct).duration, 5.3, 5e-4);
        }
    }

    // Reading and writing instead of the kernel copy gives the same bytes.
    const fs::path byHand = dir / "by-hand.mp4";
    fs::remove(byHand);
    EXPECT_FALSE(
        media::saveNewest(buffer.init, buffer.files, 100.0, byHand, media::CopyMethod::readWrite)
            .kernelCopy);
    EXPECT_EQ(bytesOf(byHand), bytesOf(direct));

    // A segment file missing in the middle (its folder went, or something removed it): the clip
    // is the unbroken stretch after it, never the media on both sides of a hole.
    fs::remove(buffer.files[3]);
    fs::remove(direct);
    media::saveNewest(buffer.init, buffer.files, 5.3, direct);
    const RecordedBuffer after{buffer.init, {buffer.files.begin() + 4, buffer.files.end()}};
    referenceSave(after, 5.3, reference);
    expectSameClip(direct, reference, "after a missing segment");
    EXPECT_LT(media::probeHeaders(direct).duration, 4.0);
    fs::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(
    RealEncoders, DirectSaveMatrix,
    testing::Values(BufferKind{VideoCodec::h264, false, 30}, BufferKind{VideoCodec::h264, true, 30},
                    BufferKind{VideoCodec::h264, false, 60}, BufferKind{VideoCodec::h264, true, 60},
                    BufferKind{VideoCodec::hevc, false, 30}, BufferKind{VideoCodec::hevc, true, 30},
                    BufferKind{VideoCodec::hevc, false, 60},
                    BufferKind{VideoCodec::hevc, true, 60}),
    [](const testing::TestParamInfo<BufferKind>& param) { return nameOf(param.param); });

// The fragments of a file made by the ffmpeg tool, split like the replay buffer keeps them.
RecordedBuffer splitFragments(const fs::path& fragmented, const fs::path& dir) {
    const std::vector<uint8_t> bytes = bytesOf(fragmented);
    RecordedBuffer buffer;
    fs::create_directories(dir);
    size_t segmentStart = 0;
    for (size_t at = 0; at + 8 <= bytes.size();) {
        const size_t size = size_t(bytes[at]) << 24 | size_t(bytes[at + 1]) << 16 |
                            size_t(bytes[at + 2]) << 8 | bytes[at + 3];
        const std::string type(bytes.begin() + long(at) + 4, bytes.begin() + long(at) + 8);
        if (type == "ftyp" || type == "moov")
            buffer.init.insert(buffer.init.end(), bytes.begin() + long(at),
                               bytes.begin() + long(at + size));
        if (type == "moof")
            segmentStart = at;
        at += size;
        if (type == "mdat") {
            buffer.files.push_back(dir / (std::to_string(buffer.files.size()) + ".m4s"));
            std::ofstream(buffer.files.back(), std::ios::binary)
                .write(reinterpret_cast<const char*>(bytes.data() + segmentStart),
                       std::streamsize(at - segmentStart));
        }
    }
    return buffer;
}

// Frames that decode before they show (B-frames): composition offsets and the edit lists that
// go with them come out as the muxer writes them.
TEST(DirectSave, FramesShownOutOfDecodeOrderKeepTheirTimes) {
    const fs::path source =
        ffmpegSource("b-frames.mp4", "-f lavfi -i testsrc2=size=160x90:rate=30 "
                                     "-f lavfi -i sine=frequency=440:sample_rate=48000 -t 6 "
                                     "-c:v libx264 -preset ultrafast -bf 2 -g 30 -c:a aac "
                                     "-movflags frag_keyframe+empty_moov+default_base_moof");
    const fs::path dir = testHome() / "direct-b-frames";
    const RecordedBuffer buffer = splitFragments(source, dir / "segments");
    ASSERT_GE(buffer.files.size(), 5u);
    for (double seconds : {2.5, 100.0}) {
        const fs::path direct = dir / "direct.mp4";
        const fs::path reference = dir / "reference.mp4";
        fs::remove(direct);
        media::saveNewest(buffer.init, buffer.files, seconds, direct);
        referenceSave(buffer, seconds, reference);
        expectSameClip(direct, reference, std::to_string(seconds) + " s");
        const std::vector<uint8_t> bytes = bytesOf(direct);
        const std::string ctts = "ctts";
        EXPECT_NE(std::search(bytes.begin(), bytes.end(), ctts.begin(), ctts.end()), bytes.end());
    }
    fs::remove_all(dir);
}

// Presentation times of the video and the first audio track, and the count of each.
struct TrackTimes {
    std::vector<double> video, audio;
};

TrackTimes trackTimes(const fs::path& file) {
    TrackTimes times;
    for (const std::string& row : packetTable(file)) {
        std::istringstream in(row);
        int stream = 0;
        std::string word;
        int64_t pts = 0;
        in >> stream >> word >> pts;
        if (stream <= 1)
            (stream == 0 ? times.video : times.audio).push_back(double(pts));
    }
    return times;
}

// A recording restarted after a failure: two runs of the same settings, each with its own
// initialisation segment and a timeline from zero. The clip joins them, the later run's media
// right after the earlier's, every track in step, and decodes cleanly.
TEST(DirectSave, JoinsTheRunsBeforeAndAfterARestart) {
    const fs::path dir = testHome() / "direct-runs";
    const BufferKind kind{VideoCodec::h264, true, 30};
    const RecordedBuffer before = record(kind, dir / "before");
    const RecordedBuffer after = record(kind, dir / "after");
    const std::vector<media::SegmentRun> runs{{before.init, before.files},
                                              {after.init, after.files}};
    const fs::path joined = dir / "joined.mp4";
    const media::DirectSaveResult saved = media::saveNewest(runs, 100.0, joined);
    EXPECT_NEAR(saved.duration, 15.0, 0.05) << "7.5 s of each run";
    EXPECT_EQ(saved.audioTracks, 2);
    EXPECT_EQ(run("ffmpeg -nostdin -v error -i '" + joined.string() + "' -f null - 2>&1"), "");
    const TrackTimes times = trackTimes(joined);
    EXPECT_NEAR(double(times.video.size()), 2 * 7.5 * 30, 2);
    EXPECT_TRUE(std::is_sorted(times.video.begin(), times.video.end()));
    EXPECT_TRUE(std::is_sorted(times.audio.begin(), times.audio.end()));
    std::istringstream lengths(run("ffprobe -v error -show_entries stream=duration -of csv=p=0 '" +
                                   joined.string() + "'"));
    double video = 0, game = 0, mic = 0;
    lengths >> video >> game >> mic;
    EXPECT_NEAR(game, video, 0.05) << "the sound stays with the picture";
    EXPECT_NEAR(mic, video, 0.05);

    // Ten seconds reach 2.5 s back into the earlier run, cut as a single run is cut.
    const fs::path ten = dir / "ten.mp4";
    EXPECT_NEAR(media::saveNewest(runs, 10.0, ten).duration, 10.0, 5e-4);
    EXPECT_EQ(run("ffmpeg -nostdin -v error -i '" + ten.string() + "' -f null - 2>&1"), "");
    // Within the newest run: the same clip as from that run alone.
    const fs::path newest = dir / "newest.mp4";
    const fs::path alone = dir / "alone.mp4";
    media::saveNewest(runs, 5.3, newest);
    media::saveNewest(after.init, after.files, 5.3, alone);
    EXPECT_EQ(bytesOf(newest), bytesOf(alone));

    // Other tracks (no microphone now): the clip cannot carry both, so it is the newest run's.
    const RecordedBuffer other = record({VideoCodec::h264, false, 30}, dir / "other");
    const fs::path changed = dir / "changed.mp4";
    const media::DirectSaveResult newestOnly =
        media::saveNewest({{before.init, before.files}, {other.init, other.files}}, 100.0, changed);
    EXPECT_NEAR(newestOnly.duration, 7.5, 0.05);
    EXPECT_EQ(newestOnly.audioTracks, 1);

    // The newest run broken by a missing file: nothing before the hole, the earlier run neither.
    fs::remove(after.files[5]);
    const fs::path broken = dir / "broken.mp4";
    EXPECT_LT(media::saveNewest(runs, 100.0, broken).duration, 2.6);
    fs::remove_all(dir);
}

// Damaged and hostile segments: random byte changes, cut-off files and forged sizes in real
// segments end in MediaError, never in a read outside the bytes (AddressSanitizer watches).
TEST(DirectSaveFuzz, DamagedSegmentsGiveErrorsNotCrashes) {
    const fs::path dir = testHome() / "direct-fuzz";
    const RecordedBuffer buffer = record({VideoCodec::h264, true, 30}, dir / "segments");
    std::vector<std::vector<uint8_t>> segments;
    for (size_t i = 0; i < 3; ++i)
        segments.push_back(bytesOf(buffer.files[i]));

    std::mt19937 random(1234);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(4);
    int runs = 0, failures = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        std::vector<uint8_t> init = buffer.init;
        std::vector<std::vector<uint8_t>> damaged = segments;
        std::vector<uint8_t>& victim =
            random() % 4 == 0 ? init : damaged[random() % damaged.size()];
        const int edits = 1 + int(random() % 8);
        for (int e = 0; e < edits && !victim.empty(); ++e) {
            const size_t at = random() % victim.size();
            switch (random() % 4) {
            case 0:
                victim[at] ^= uint8_t(1u << (random() % 8));
                break;
            case 1:
                victim[at] = uint8_t(random());
                break;
            case 2:
                victim.resize(at);
                break;
            default: // a forged 32-bit field: size, count or offset
                for (size_t b = at; b < std::min(victim.size(), at + 4); ++b)
                    victim[b] = random() % 2 ? 0xff : 0x00;
            }
        }
        ++runs;
        try {
            media::FragmentIndex index(init);
            for (size_t i = 0; i < damaged.size(); ++i)
                index.addSegment(damaged[i], uint32_t(i));
            const media::ClipCut cut = media::cutNewest(index, 2.0);
            const media::ProgressiveMp4 layout(cut);
            for (const auto& piece : layout.payload()) {
                ASSERT_LE(piece.offset + piece.length, damaged[piece.file].size());
                // Placed as a copy-on-write file system can share: block for block.
                ASSERT_EQ(piece.at % 4096, piece.offset % 4096);
            }
        } catch (const media::MediaError&) {
            ++failures;
        }
    }
    EXPECT_GT(runs, 100);
    EXPECT_GT(failures, 0);

    // Forged sample runs, each within the cap of a run and of its bytes, that together would
    // make the index hold more samples than any buffer: refused before they are allocated.
    std::vector<uint8_t> forged;
    const auto box = [&](const char* type, auto&& body) {
        const size_t at = forged.size();
        forged.resize(at + 4);
        forged.insert(forged.end(), type, type + 4);
        body();
        const size_t size = forged.size() - at;
        for (int i = 0; i < 4; ++i)
            forged[at + size_t(i)] = uint8_t(size >> (24 - 8 * i));
    };
    const auto u32 = [&](uint32_t v) {
        for (int i = 0; i < 4; ++i)
            forged.push_back(uint8_t(v >> (24 - 8 * i)));
    };
    box("moof", [&] {
        box("traf", [&] {
            box("tfhd", [&] {
                u32(0x020010); // base is the moof, default sample size given
                u32(1);        // the video track
                u32(0);        // samples of no bytes
            });
            for (int i = 0; i < 4; ++i)
                box("trun", [&] {
                    u32(0);          // no per-sample fields
                    u32(600u << 10); // 614,400 samples
                });
        });
    });
    box("mdat", [&] { forged.resize(forged.size() + (1u << 20)); });
    try {
        media::FragmentIndex index(buffer.init);
        index.addSegment(forged, 0);
        ADD_FAILURE() << "indexed " << index.tracks()[0].samples.size() << " samples";
    } catch (const media::MediaError& error) {
        EXPECT_EQ(error.kind(), media::MediaError::Kind::openInput);
        EXPECT_NE(std::string(error.what()).find("more samples than a buffer holds"),
                  std::string::npos)
            << error.what();
    }

    // A segment file cut short on disk: an error before anything is written, and no file.
    fs::resize_file(buffer.files[1], fs::file_size(buffer.files[1]) / 2);
    const fs::path target = dir / "clip.mp4";
    EXPECT_THROW(media::saveNewest(buffer.init, buffer.files, 100.0, target), media::MediaError);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1)
        << "only the segment folder is left";
    fs::remove_all(dir);
}

} // namespace
} // namespace vantel::test
