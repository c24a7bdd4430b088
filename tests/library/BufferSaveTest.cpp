// Saving from a real replay buffer fed by the real encoder with generated media.

#include "ClipsTestSupport.h"
#include "common/FileSizeLimit.h"
#include "common/PacedWriter.h"
#include "common/SyntheticMedia.h"
#include "engine/CaptureController.h"
#include "engine/RecordError.h"
#include "media/Fmp4SegmentWriter.h"
#include "media/MediaProbe.h"
#include "platform/capture/NullCaptureBackend.h"

#include <QSemaphore>
#include <QThreadPool>
#include <QTimer>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>

namespace vantel {
namespace {

QStringList lastLines(const std::string& text, int count) {
    QStringList lines = QString::fromStdString(text).split('\n', Qt::SkipEmptyParts);
    return lines.mid(std::max<qsizetype>(0, lines.size() - count));
}

TEST(SaveFromReplayBuffer, CopiesTheNewestSecondsOfEveryTrackUnchanged) {
    constexpr int kWidth = 160, kHeight = 90, kFps = 30, kSeconds = 32;
    auto buffer =
        std::make_shared<ReplayBuffer>(ReplayBuffer::Config{.width = kWidth,
                                                            .height = kHeight,
                                                            .fps = kFps,
                                                            .quality = Quality::standard,
                                                            .withMic = true},
                                       test::PacedWriter::around(media::makeFmp4SegmentWriter()));
    for (int i = 0; i < kSeconds * kFps; ++i) {
        const double pts = 100.0 + double(i) / kFps;
        buffer->appendVideo(test::makeFrame(kWidth, kHeight, i, pts));
        buffer->appendAudio(test::makeTone(440, 2, 48000 / kFps, pts), false);
        buffer->appendAudio(test::makeTone(880, 1, 48000 / kFps, pts), true);
        ASSERT_FALSE(buffer->failed()) << *buffer->failed();
    }
    buffer->finish();
    EXPECT_EQ(buffer->segments().size(), 32u) << "the window plus two seconds";

    test::LibraryPlaces at("buffer");
    Library library(at.places());
    Clips::SnapshotSource source = Clips::SnapshotSource::of(buffer);
    source.snapshot = [](double, double) -> ReplayBuffer::Snapshot {
        ADD_FAILURE() << "the save went through a snapshot file";
        throw RecordError::nothingBuffered();
    };
    const QString kept = at.root + "/snapshot-copy.mp4";
    const auto snap = buffer->snapshot(10);
    QFile::copy(QString::fromStdString(snap.url.string()), kept);
    std::filesystem::remove(snap.url);

    {
        // A full disk: the save's error, and neither the clip nor its partial file is left.
        test::FileSizeLimit limit(64 * 1024);
        try {
            Clips::saveClip(source, GameTarget{"Full", 1, std::nullopt}, 10, library);
            ADD_FAILURE() << "saved onto a full disk";
        } catch (const RecordError& error) {
            EXPECT_STREQ(error.what(), "Writing the clip failed.");
        }
    }
    EXPECT_TRUE(QDir(at.folder + "/Full").entryList(QDir::Files | QDir::Hidden).isEmpty());

    const Clip clip = Clips::saveClip(source, GameTarget{"Game", 1, std::nullopt}, 10, library);
    EXPECT_EQ(test::run("ffmpeg -nostdin -v error -i '" + kept.toStdString() + "' -f null -"), "")
        << "the joined segments decode cleanly";
    const double frame = 1.0 / kFps + 1e-3;
    EXPECT_NEAR(clip.meta.duration, 10.0, frame);
    EXPECT_NEAR(test::videoLength(clip.url), 10.0, frame);
    EXPECT_TRUE(clip.meta.hasMic);
    EXPECT_EQ(clip.meta.width, kWidth);
    const QByteArray bytes = test::readAll(clip.url);
    EXPECT_LT(bytes.indexOf("moov"), bytes.indexOf("mdat"));
    const std::string params =
        "stream=codec_type,codec_name,profile,width,height,pix_fmt,sample_rate,channels";
    EXPECT_EQ(test::probe(clip.url, params), test::probe(kept, params));
    // The kept frames are the buffer's own packets, not new encodings.
    const std::string packets = "packet=size,flags";
    EXPECT_EQ(lastLines(test::probe(clip.url, packets, "-select_streams v:0"), 10 * kFps),
              lastLines(test::probe(kept, packets, "-select_streams v:0"), 10 * kFps));

    const Clip all = Clips::saveClip(source, std::nullopt, 1000, library);
    const auto everything = buffer->snapshot(1000);
    const media::MediaInfo whole = media::probeMedia(everything.url);
    std::filesystem::remove(everything.url);
    EXPECT_NEAR(all.meta.duration, whole.videoEnd - whole.videoStart, frame);
    EXPECT_TRUE(test::leftoverSnapshots().isEmpty());
    buffer->discard();
}

// A capture running late under load grabs a due frame late and the next one on time, a few
// milliseconds apart; sound chunks come late and in bursts too. Clips of any length (each cut at
// another place, across other segment joins) still decode cleanly, frame after frame.
TEST(SaveFromReplayBuffer, ClipsOfACaptureRunningLateDecodeCleanly) {
    constexpr int kWidth = 160, kHeight = 90, kFps = 30, kSeconds = 8;
    auto buffer =
        std::make_shared<ReplayBuffer>(ReplayBuffer::Config{.width = kWidth,
                                                            .height = kHeight,
                                                            .fps = kFps,
                                                            .quality = Quality::standard,
                                                            .withMic = true},
                                       test::PacedWriter::around(media::makeFmp4SegmentWriter()));
    for (int i = 0; i < kSeconds * kFps; ++i) {
        const double due = 300.0 + double(i) / kFps;
        const double late = i % 7 == 3 ? 0.023 : i % 5 == 1 ? 0.0175 : 0.0;
        buffer->appendVideo(test::makeFrame(kWidth, kHeight, i, due + late));
        buffer->appendAudio(test::makeTone(440, 2, 48000 / kFps, due), false);
        buffer->appendAudio(test::makeTone(880, 1, 48000 / kFps, due), true);
    }
    buffer->finish();

    test::LibraryPlaces at("late");
    Library library(at.places());
    for (double seconds : {5.0, 4.5, 3.25, 2.9, 1.6}) {
        const Clip clip =
            Clips::saveClip(Clips::SnapshotSource::of(buffer), std::nullopt, seconds, library);
        EXPECT_EQ(test::run("ffmpeg -nostdin -v error -i '" + clip.url.toStdString() +
                            "' -f null - 2>&1"),
                  "")
            << seconds << " s";
        EXPECT_NEAR(clip.meta.duration, seconds, 1.0 / kFps + 1e-3);
    }
    buffer->discard();
}

// Exports and thumbnails fill the global pool; a save asked for meanwhile runs at once, and its
// clip ends where the request was made, not where the buffer has got to since.
TEST(SaveFromReplayBuffer, RunsBesideBusyExportsAndEndsAtTheRequest) {
    constexpr int kWidth = 160, kHeight = 90, kFps = 30, kSeconds = 12;
    auto buffer = std::make_shared<ReplayBuffer>(
        ReplayBuffer::Config{
            .width = kWidth, .height = kHeight, .fps = kFps, .quality = Quality::standard},
        test::PacedWriter::around(media::makeFmp4SegmentWriter()));
    for (int i = 0; i < kSeconds * kFps; ++i) {
        const double pts = 200.0 + double(i) / kFps;
        buffer->appendVideo(test::makeFrame(kWidth, kHeight, i, pts));
        buffer->appendAudio(test::makeTone(440, 2, 48000 / kFps, pts), false);
    }
    buffer->finish();

    QThreadPool& pool = *QThreadPool::globalInstance();
    QSemaphore exportsDone;
    for (int i = 0; i < pool.maxThreadCount(); ++i)
        pool.start([&] { exportsDone.acquire(); });
    bool stuck = false;
    QTimer::singleShot(60000, [&] {
        stuck = true;
        exportsDone.release(pool.maxThreadCount());
    });

    test::LibraryPlaces at("busy");
    Library library(at.places());
    const double requested = 206.5; // within the seventh second of the recording
    const Clip clip = test::await(Clips::saveFromBuffer(Clips::SnapshotSource::of(buffer),
                                                        std::nullopt, 100, library, requested));
    EXPECT_FALSE(stuck) << "the save waited for the exports";
    EXPECT_GT(clip.meta.duration, 6.0);
    EXPECT_LT(clip.meta.duration, 7.5) << "media recorded after the request is not in the clip";
    if (!stuck)
        exportsDone.release(pool.maxThreadCount());
    pool.waitForDone();
    buffer->discard();
}

TEST(SaveFromReplayBuffer, WithoutARecordingThereIsNothingToSave) {
    test::LibraryPlaces at("idle");
    Library library(at.places());
    CaptureController capture(std::make_unique<platform::NullCaptureBackend>());
    try {
        test::await(Clips::saveFromBuffer(capture, library, 30));
        ADD_FAILURE() << "saved without a buffer";
    } catch (const RecordError& error) {
        EXPECT_EQ(error.kind(), RecordError::Kind::nothingBuffered);
    }
}

} // namespace
} // namespace vantel
