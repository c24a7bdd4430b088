// Exports on real files: video copy or re-encode, the size and bit-rate rules, the audio mix
// with per-track gains, ranges and progress, and broken sources.

#include "common/FileSizeLimit.h"
#include "common/TestEnv.h"
#include "media/ClipTestSupport.h"
#include "media/CodecIo.h"
#include "media/Exporter.h"
#include "media/FfmpegPtr.h"
#include "media/MediaError.h"
#include "media/MediaProbe.h"
#include "media/RangeCopy.h"

#include <cmath>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <mutex>
#include <pthread.h>
#include <unistd.h>

namespace vantel::media {
namespace {

namespace fs = std::filesystem;
using test::testHome;

fs::path target(const std::string& name) {
    fs::create_directories(testHome() / "exports");
    return testHome() / "exports" / name;
}

double decibels(double ratio) {
    return 20.0 * std::log10(ratio);
}

TEST(PlanExport, FollowsTheSizeAndBitrateRules) {
    ExportSettings s;
    s.maxHeight = 480;
    ExportPlan p = planExport(1366, 768, true, 60.0, s);
    EXPECT_EQ(p.width, 852); // 853.75 truncated, then even
    EXPECT_EQ(p.height, 480);
    EXPECT_TRUE(p.reencode);
    s.maxHeight = 720;
    EXPECT_EQ(planExport(1920, 1080, false, 60.0, s).bitrate, 8847360);
    EXPECT_EQ(planExport(1920, 1080, false, 24.0, s).bitrate, 4423680); // raised to 30 fps
    EXPECT_EQ(planExport(1920, 1080, false, std::nullopt, s).bitrate, 8847360);
    // Not taller than the limit: copied, unless H.264 is demanded of another codec.
    s.maxHeight = 1080;
    EXPECT_FALSE(planExport(1920, 1080, false, 60.0, s).reencode);
    s.forceH264 = true;
    EXPECT_TRUE(planExport(1920, 1080, false, 60.0, s).reencode);
    EXPECT_FALSE(planExport(1920, 1080, true, 60.0, s).reencode);
}

TEST(Export, CopiesVideoAndMixesAudioIntoOneTrack) {
    const fs::path src = test::gameAndMicClip();
    const fs::path out = target("copy.mp4");
    ExportSettings s;
    s.forceH264 = true; // already H.264: still copied
    exportClip(src, out, s);

    const MediaInfo info = probeMedia(out);
    EXPECT_EQ(info.videoCodec, "h264");
    EXPECT_EQ(info.audioTracks, 1);
    EXPECT_NEAR(info.videoEnd, 3.0, 1.0 / 30);
    const auto in = test::packetsOf(src, AVMEDIA_TYPE_VIDEO);
    const auto copied = test::packetsOf(out, AVMEDIA_TYPE_VIDEO);
    ASSERT_EQ(copied.size(), in.size());
    for (size_t i = 0; i < in.size(); ++i)
        EXPECT_EQ(copied[i].hash, in[i].hash);

    const auto boxes = test::topLevelBoxes(out);
    EXPECT_LT(std::find(boxes.begin(), boxes.end(), "moov"),
              std::find(boxes.begin(), boxes.end(), "mdat"));
    const test::Pcm pcm = test::decodeAudio(out);
    EXPECT_EQ(pcm.rate, 48000);
    EXPECT_NEAR(double(pcm.samples.size()) / pcm.rate, 3.0, 0.05);
    EXPECT_GT(test::tonePower(pcm, 1200), 0.1 * test::tonePower(pcm, 440));
}

TEST(Export, AppliesTheGameAndMicrophoneGains) {
    const fs::path src = test::gameAndMicClip();
    auto mixed = [&](float game, float mic) {
        ExportSettings s;
        s.gameVolume = game;
        s.micVolume = mic;
        const fs::path out = target("gain.mp4");
        exportClip(src, out, s);
        return test::decodeAudio(out);
    };
    const test::Pcm gameOnly = mixed(1.0f, 0.0f);
    EXPECT_LT(test::tonePower(gameOnly, 1200), 1e-4 * test::tonePower(gameOnly, 440));
    const test::Pcm micOnly = mixed(0.0f, 1.0f);
    EXPECT_LT(test::tonePower(micOnly, 440), 1e-4 * test::tonePower(micOnly, 1200));

    const double full = test::rms(mixed(1.0f, 1.0f));
    const double half = test::rms(mixed(0.5f, 0.5f));
    EXPECT_NEAR(decibels(half / full), -6.02, 0.5);
}

TEST(Export, KeepsOnlyTheOverlapAndReportsProgressAgainstIt) {
    const fs::path out = target("overlap.mp4");
    ExportSettings s;
    s.range = TimeRange{-1.0, 1.5};
    std::mutex lock;
    std::vector<double> seen;
    std::string thread;
    exportClip(test::gameAndMicClip(), out, s, [&](double v) {
        std::lock_guard guard(lock);
        seen.push_back(v);
        char name[32] = {};
        pthread_getname_np(pthread_self(), name, sizeof name);
        thread = name;
    });
    EXPECT_NEAR(probeMedia(out).duration, 1.5, 1.0 / 30);
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(thread, "record.export.v");
    EXPECT_LE(*std::max_element(seen.begin(), seen.end()), 1.0);
    EXPECT_GT(seen.back(), 0.9); // against 1.5 s, not the 2.5 s asked for
    const test::Pcm pcm = test::decodeAudio(out);
    EXPECT_NEAR(double(pcm.samples.size()) / pcm.rate, 1.5, 0.03);
}

test::Pcm slice(const test::Pcm& pcm, double from, double to) {
    return {{pcm.samples.begin() + std::lround(from * pcm.rate),
             pcm.samples.begin() + std::lround(to * pcm.rate)},
            pcm.rate};
}

// A microphone track that starts 1 s in and stops at 3 s of a 6-second clip: it is mixed where it
// is, silence elsewhere, and the game sound runs on at the same level to the end.
TEST(Export, MixesTracksOfUnequalLengthInPlace) {
    const fs::path src = test::ffmpegSource(
        "short-mic.mp4",
        "-f lavfi -i testsrc2=size=160x90:rate=30:duration=6 "
        "-f lavfi -i sine=frequency=440:sample_rate=48000:duration=6 "
        "-itsoffset 1 -f lavfi -i sine=frequency=1200:sample_rate=48000:duration=2 "
        "-map 0 -map 1 -map 2 -c:v libx264 -preset ultrafast -g 30 -c:a aac");
    const fs::path out = target("short-mic-out.mp4");
    exportClip(src, out, {});
    const test::Pcm pcm = test::decodeAudio(out);
    ASSERT_EQ(pcm.rate, 48000);
    ASSERT_NEAR(double(pcm.samples.size()) / pcm.rate, 6.0, 0.05);
    auto micShare = [&](double from, double to) {
        const test::Pcm part = slice(pcm, from, to);
        return test::tonePower(part, 1200) / test::tonePower(part, 440);
    };
    EXPECT_LT(micShare(0.1, 0.9), 1e-3);
    EXPECT_GT(micShare(1.2, 2.8), 0.1);
    EXPECT_LT(micShare(3.3, 5.9), 1e-3);
    EXPECT_NEAR(decibels(test::rms(slice(pcm, 4.0, 5.0)) / test::rms(slice(pcm, 0.2, 0.8))), 0.0,
                0.5);
}

// Redirects standard error to a file for its lifetime.
class StandardErrorCapture {
public:
    explicit StandardErrorCapture(fs::path file)
        : m_file(std::move(file)) {
        std::fflush(stderr);
        const int fd = ::open(m_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        m_saved = ::dup(STDERR_FILENO);
        ::dup2(fd, STDERR_FILENO);
        ::close(fd);
    }
    ~StandardErrorCapture() { restore(); }
    std::string text() {
        restore();
        std::ifstream in(m_file);
        return {std::istreambuf_iterator<char>(in), {}};
    }

private:
    void restore() {
        if (m_saved < 0)
            return;
        std::fflush(stderr);
        ::dup2(m_saved, STDERR_FILENO);
        ::close(m_saved);
        m_saved = -1;
    }
    fs::path m_file;
    int m_saved = -1;
};

// While an export or a copy runs, its file exists only under a hidden partial name, so nothing
// lists or plays it half-written; and a normal run says nothing on standard error.
TEST(Export, WritesUnderAPartialNameAndSaysNothing) {
    const fs::path dir = testHome() / "partial";
    fs::remove_all(dir);
    fs::create_directories(dir);
    const fs::path out = dir / "export.mp4";
    const fs::path copy = dir / "copy.mp4";
    bool targetSeen = false;
    std::vector<std::string> during;
    StandardErrorCapture captured(testHome() / "stderr.txt");
    ExportSettings s;
    s.maxHeight = 120; // re-encoded: the encoder, the scaler and the mix all run
    exportClip(test::gameAndMicClip(), out, s, [&](double) {
        targetSeen |= fs::exists(out);
        if (during.empty())
            for (const auto& entry : fs::directory_iterator(dir))
                during.push_back(entry.path().filename().string());
    });
    copyRange(test::gameAndMicClip(), copy, TimeRange{0.5, 2.5});
    EXPECT_EQ(captured.text(), "");
    EXPECT_FALSE(targetSeen);
    ASSERT_EQ(during.size(), 1u);
    EXPECT_TRUE(during[0].starts_with(".export.mp4.") && during[0].ends_with(".partial"))
        << during[0];
    std::vector<std::string> after;
    for (const auto& entry : fs::directory_iterator(dir))
        after.push_back(entry.path().filename().string());
    std::sort(after.begin(), after.end());
    EXPECT_EQ(after, (std::vector<std::string>{"copy.mp4", "export.mp4"}));
}

// An encoder that fails at its final drain is reported, not taken for a finished one.
TEST(CodecIo, AFailedDrainIsAnError) {
    CodecContextPtr unopened(avcodec_alloc_context3(avcodec_find_encoder(AV_CODEC_ID_AAC)));
    try {
        encodeAndDrain(
            unopened.get(), nullptr, [](PacketPtr) {}, "cannot encode");
        ADD_FAILURE() << "a failed drain passed";
    } catch (const MediaError& e) {
        EXPECT_EQ(e.kind(), MediaError::Kind::write);
    }
}

// A white flash and a beep at 1.0 s of the source; cut from 0.55 s both land at 0.45 s,
// whether the picture is copied or re-encoded.
TEST(Export, KeepsSoundInStepWithPicture) {
    const fs::path src = test::ffmpegSource(
        "flash-beep.mp4",
        "-f lavfi -i \"color=c=black:s=160x90:r=30:d=3,drawbox=c=white:t=fill:"
        "enable='between(t,1,1.02)'\" -f lavfi -i \"sine=frequency=1000:sample_rate=48000:"
        "duration=3,volume=0:enable='not(between(t,1,1.2))'\" -c:v libx264 -preset ultrafast "
        "-g 30 -c:a aac");
    for (std::optional<int> maxHeight : {std::optional<int>(), std::optional<int>(60)}) {
        SCOPED_TRACE(maxHeight ? "re-encoded" : "copied");
        ExportSettings s;
        s.range = TimeRange{0.55, 2.55};
        s.maxHeight = maxHeight;
        const fs::path out = target("flash.mp4");
        exportClip(src, out, s);
        EXPECT_NEAR(test::firstBrightFrame(out), 0.45, 1.0 / 30 + 0.001);
        EXPECT_NEAR(test::firstLoudSample(test::decodeAudio(out)), 0.45, 0.01);
    }
}

MediaError::Kind exportFailure(const fs::path& src, const ExportSettings& s, const fs::path& out) {
    try {
        exportClip(src, out, s);
    } catch (const MediaError& e) {
        return e.kind();
    }
    ADD_FAILURE() << "exported " << src;
    return MediaError::Kind::write;
}

TEST(Export, RefusesSourcesWithNothingToExport) {
    const fs::path out = target("nothing.mp4");
    ExportSettings outside;
    outside.range = TimeRange{20.0, 25.0};
    EXPECT_EQ(exportFailure(test::gameAndMicClip(), outside, out), MediaError::Kind::read);
    EXPECT_FALSE(fs::exists(out));
    const fs::path tone = test::ffmpegSource(
        "tone.m4a", "-f lavfi -i sine=frequency=440:sample_rate=48000:duration=1 -c:a aac");
    EXPECT_EQ(exportFailure(tone, {}, out), MediaError::Kind::noVideo);
    EXPECT_FALSE(fs::exists(out));
}

TEST(Export, TurnsRotatedHevcIntoSmallerH264) {
    const fs::path upright = test::ffmpegSource(
        "hevc-upright.mp4", "-f lavfi -i testsrc2=size=1920x1080:rate=30:duration=0.5 "
                            "-f lavfi -i sine=frequency=440:sample_rate=48000:duration=0.5 "
                            "-c:v libx265 -preset ultrafast -x265-params log-level=error "
                            "-c:a aac");
    const fs::path hevc = test::ffmpegSource(
        "hevc.mp4", "-i '" + upright.string() + "' -map 0 -c copy -metadata:s:v:0 rotate=90");
    const int rotation = probeMedia(hevc).rotation;
    ASSERT_NE(rotation, 0);
    const fs::path out = target("hevc.mp4");
    ExportSettings s;
    s.maxHeight = 720;
    exportClip(hevc, out, s);
    const MediaInfo info = probeMedia(out);
    EXPECT_EQ(info.videoCodec, "h264");
    EXPECT_EQ(info.width, 1280);
    EXPECT_EQ(info.height, 720);
    EXPECT_EQ(info.rotation, rotation);
    EXPECT_EQ(info.audioTracks, 1);
    EXPECT_GE(test::packetsOf(out, AVMEDIA_TYPE_VIDEO).size(), 14u);
}

// Files from elsewhere: an MPEG-4 picture of odd size demanded as H.264, and MP3 sound that turns
// from stereo to mono part-way (each MP3 frame carries its own channel mode).
TEST(Export, ReencodesOddSizesAndFollowsAudioThatChangesLayout) {
    // Bare MP3 frames (no tag, no Xing header), so the joined stream holds nothing else.
    const std::string tone = "-f lavfi -i sine=frequency=440:sample_rate=48000:duration=1.5 "
                             "-write_xing 0 -id3v2_version 0 ";
    const fs::path stereo = test::ffmpegSource("stereo.mp3", tone + "-ac 2 -c:a libmp3lame");
    const fs::path mono = test::ffmpegSource("mono.mp3", tone + "-ac 1 -c:a libmp3lame");
    const fs::path src = test::ffmpegSource(
        "odd-mpeg4.mp4",
        "-f lavfi -i testsrc2=size=321x181:rate=30:duration=3 -i 'concat:" + stereo.string() + "|" +
            mono.string() + "' -c:v mpeg4 -c:a copy -shortest");
    const fs::path out = target("odd.mp4");
    ExportSettings s;
    s.forceH264 = true;
    exportClip(src, out, s);
    const MediaInfo info = probeMedia(out);
    EXPECT_EQ(info.videoCodec, "h264");
    EXPECT_EQ(info.width, 320);
    EXPECT_EQ(info.height, 180);
    const test::Pcm pcm = test::decodeAudio(out);
    ASSERT_EQ(pcm.rate, 48000);
    EXPECT_NEAR(double(pcm.samples.size()) / pcm.rate, 3.0, 0.1);
    const test::Pcm monoHalf{{pcm.samples.begin() + 2 * pcm.rate, pcm.samples.end()}, pcm.rate};
    EXPECT_GT(test::rms(monoHalf), 0.5 * test::rms(pcm));
}

TEST(Export, ReportsAFullDiskAsAWriteFailureAndLeavesNoFile) {
    const fs::path src = test::gameAndMicClip();
    const fs::path out = target("full.mp4");
    const fs::path copy = target("full-copy.mp4");
    fs::remove(copy);
    test::FileSizeLimit limit(16 * 1024);
    EXPECT_EQ(exportFailure(src, {}, out), MediaError::Kind::write);
    for (const auto& entry : fs::directory_iterator(out.parent_path()))
        EXPECT_FALSE(entry.path().filename().string().starts_with(".full.mp4"))
            << "a partial file was left";
    EXPECT_FALSE(fs::exists(out));
    try {
        copyRange(src, copy, std::nullopt);
        ADD_FAILURE() << "copied onto a full disk";
    } catch (const MediaError& e) {
        EXPECT_EQ(e.kind(), MediaError::Kind::write);
    }
    EXPECT_FALSE(fs::exists(copy));
}

} // namespace
} // namespace vantel::media
