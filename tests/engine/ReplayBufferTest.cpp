// Bookkeeping of the replay buffer over a scripted writer: intake gate, segment files, retention.

#include "engine/ReplayBuffer.h"

#include "FakeSegmentWriter.h"
#include "common/FileSizeLimit.h"
#include "common/TestEnv.h"

#include <cstdlib>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace fs = std::filesystem;
using namespace vantel;
using vantel::test::chunkAt;
using vantel::test::FakeWriterState;
using vantel::test::frameAt;

namespace {

std::unique_ptr<ReplayBuffer> makeBuffer(FakeWriterState& state, double keepSeconds = 30,
                                         bool withMic = false) {
    return std::make_unique<ReplayBuffer>(
        ReplayBuffer::Config{
            .width = 160, .height = 90, .fps = 30, .withMic = withMic, .keepSeconds = keepSeconds},
        test::fakeWriterFactory(state));
}

std::vector<std::string> fileNames(const std::vector<ReplayBuffer::Segment>& segments) {
    std::vector<std::string> names;
    for (const auto& s : segments)
        names.push_back(s.url.filename().string());
    return names;
}

std::vector<std::string> segmentFilesIn(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
        if (entry.is_regular_file() && entry.path().extension() == ".m4s")
            names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

void feedSeconds(FakeWriterState& state, int count) {
    for (int i = 0; i < count; ++i)
        state.segment("segment", media::SegmentTiming{double(i), 1.0});
}

} // namespace

TEST(ReplayBuffer, ConfiguresTheWriterAndMakesALockedRunFolder) {
    FakeWriterState state;
    ReplayBuffer buffer(ReplayBuffer::Config{.width = 1920,
                                             .height = 1080,
                                             .fps = 60,
                                             .quality = Quality::high,
                                             .codec = Codec::hevc,
                                             .withMic = true,
                                             .keepSeconds = 30},
                        test::fakeWriterFactory(state));
    EXPECT_EQ(state.config.width, 1920);
    EXPECT_EQ(state.config.height, 1080);
    EXPECT_EQ(state.config.fps, 60);
    EXPECT_EQ(state.config.codec, media::VideoCodec::hevc);
    EXPECT_EQ(state.config.videoBitRate, 14556672);
    EXPECT_TRUE(state.config.withMic);

    EXPECT_EQ(buffer.dir().parent_path(), test::testHome() / "cache" / "vantel-record");
    const std::string name = buffer.dir().filename().string();
    EXPECT_TRUE(name.starts_with("vantel-record-")) << name;
    EXPECT_TRUE(test::isUpperUuid(name.substr(14))) << name;
    EXPECT_TRUE(fs::is_directory(buffer.dir()));
    EXPECT_EQ(buffer.bufferedSeconds(), 0.0);
    FakeWriterState other;
    EXPECT_NE(makeBuffer(other)->dir(), buffer.dir());

    const std::string cache = std::getenv("XDG_CACHE_HOME");
    unsetenv("XDG_CACHE_HOME");
    EXPECT_EQ(ReplayBuffer::runRoot(), test::testHome() / ".cache" / "vantel-record");
    setenv("XDG_CACHE_HOME", cache.c_str(), 1);
}

TEST(ReplayBuffer, AppendsVideoOnlyFromTheFirstFrameAndNeverQueues) {
    FakeWriterState state;
    auto buffer = makeBuffer(state, 30, false);
    buffer->appendAudio(chunkAt(4.0), false);
    EXPECT_TRUE(state.startedAt.empty());
    EXPECT_TRUE(state.audio.empty());

    buffer->appendVideo(frameAt(5.0));
    buffer->appendAudio(chunkAt(5.01), false);
    buffer->appendAudio(chunkAt(5.02), true); // no microphone track
    EXPECT_EQ(state.startedAt, std::vector<double>{5.0});
    ASSERT_EQ(state.audio.size(), 1u);
    EXPECT_EQ(state.audio[0].first, media::AudioTrack::game);

    state.videoReady = state.audioReady = false;
    buffer->appendVideo(frameAt(5.1));
    buffer->appendAudio(chunkAt(5.1), false);
    state.videoReady = state.audioReady = true;
    buffer->appendVideo(frameAt(5.2));
    EXPECT_EQ(state.videoPts, (std::vector<double>{5.0, 5.2}));
    EXPECT_EQ(state.audio.size(), 1u);
    EXPECT_EQ(state.startedAt.size(), 1u);
    EXPECT_FALSE(buffer->failed());

    FakeWriterState micState;
    auto withMic = makeBuffer(micState, 30, true);
    withMic->appendVideo(frameAt(1.0));
    withMic->appendAudio(chunkAt(1.0), true);
    ASSERT_EQ(micState.audio.size(), 1u);
    EXPECT_EQ(micState.audio[0].first, media::AudioTrack::mic);
}

TEST(ReplayBuffer, WriterFailureDropsEverythingAfterwards) {
    FakeWriterState cannotStart;
    cannotStart.startSucceeds = false;
    auto first = makeBuffer(cannotStart);
    first->appendVideo(frameAt(1.0));
    first->appendVideo(frameAt(1.1));
    first->appendAudio(chunkAt(1.1), false);
    EXPECT_EQ(first->failed(), "encoder broke");
    EXPECT_EQ(cannotStart.startedAt.size(), 1u);
    EXPECT_TRUE(cannotStart.videoPts.empty());
    first->finish();
    EXPECT_EQ(cannotStart.finishCalls, 0);

    FakeWriterState breaksLater;
    auto second = makeBuffer(breaksLater);
    second->appendVideo(frameAt(1.0));
    breaksLater.failOnNextVideo = true;
    breaksLater.error.clear(); // a writer that cannot say why still yields a message
    second->appendVideo(frameAt(1.1));
    ASSERT_TRUE(second->failed());
    EXPECT_FALSE(second->failed()->empty());
    second->appendVideo(frameAt(1.2));
    second->appendAudio(chunkAt(1.2), false);
    EXPECT_EQ(breaksLater.videoPts.size(), 2u);
    EXPECT_TRUE(breaksLater.audio.empty());

    auto throwing = [](const media::WriterConfig&,
                       media::SegmentSink&) -> std::unique_ptr<media::SegmentWriter> {
        throw std::runtime_error("no encoder here");
    };
    ReplayBuffer third(ReplayBuffer::Config{.width = 160, .height = 90, .fps = 30}, throwing);
    third.appendVideo(frameAt(0.0));
    EXPECT_EQ(third.failed(), "no encoder here");
}

TEST(ReplayBuffer, FinishesOnlyAStartedWriterAndFilesLateSegments) {
    FakeWriterState state;
    auto buffer = makeBuffer(state);
    buffer->finish();
    EXPECT_EQ(state.finishCalls, 0);

    buffer->appendVideo(frameAt(0.0));
    state.duringFinish = [&] {
        state.segment("last", media::SegmentTiming{0.0, 0.5});
    };
    buffer->finish();
    EXPECT_EQ(state.finishCalls, 1);
    EXPECT_EQ(fileNames(buffer->segments()), std::vector<std::string>{"00000001.m4s"});
    EXPECT_EQ(buffer->bufferedSeconds(), 0.5);
}

TEST(ReplayBuffer, RetentionKeepsTheWindowPlusTwoSeconds) {
    FakeWriterState state;
    auto buffer = makeBuffer(state, 30);
    feedSeconds(state, 32);
    EXPECT_EQ(buffer->segments().size(), 32u);
    feedSeconds(state, 8);
    const auto listed = buffer->segments();
    ASSERT_EQ(listed.size(), 32u);
    EXPECT_EQ(listed.front().url.filename(), "00000009.m4s");
    EXPECT_EQ(listed.back().url.filename(), "00000040.m4s");
    EXPECT_EQ(segmentFilesIn(buffer->dir()), fileNames(listed));
    EXPECT_EQ(buffer->bufferedSeconds(), 32.0);

    FakeWriterState zeroState;
    auto zero = makeBuffer(zeroState, 0);
    feedSeconds(zeroState, 10);
    EXPECT_EQ(fileNames(zero->segments()),
              (std::vector<std::string>{"00000009.m4s", "00000010.m4s"}));
    EXPECT_EQ(segmentFilesIn(zero->dir()).size(), 2u);
}

TEST(ReplayBuffer, SegmentFilesAndTiming) {
    FakeWriterState state;
    auto buffer = makeBuffer(state);
    state.segment("one", std::nullopt);
    state.segment("two", media::SegmentTiming{3.5, 0.9});

    const auto listed = buffer->segments();
    EXPECT_EQ(fileNames(listed), (std::vector<std::string>{"00000001.m4s", "00000002.m4s"}));
    EXPECT_EQ(listed[0].start, 0.0);
    EXPECT_EQ(listed[0].duration, 1.0);
    EXPECT_EQ(listed[1].start, 3.5);
    EXPECT_EQ(listed[1].duration, 0.9);
    EXPECT_EQ(segmentFilesIn(buffer->dir()), fileNames(listed));
}

// A segment that cannot be written is a hole in the run: the run fails with the reason at the
// next frame, and nothing after the hole is listed, even once the disk has room again.
TEST(ReplayBuffer, ASegmentThatCannotBeWrittenFailsTheRun) {
    FakeWriterState state;
    auto buffer = makeBuffer(state);
    buffer->appendVideo(frameAt(0.0));
    state.segment("one", media::SegmentTiming{0.0, 1.0});
    {
        test::FileSizeLimit limit(2); // a full disk cuts #2 short
        state.segment("two", media::SegmentTiming{1.0, 1.0});
    }
    state.segment("three", media::SegmentTiming{2.0, 1.0});
    buffer->appendVideo(frameAt(0.1));
    ASSERT_TRUE(buffer->failed());
    EXPECT_THAT(*buffer->failed(), testing::StartsWith("Can't write the recording to " +
                                                       ReplayBuffer::runRoot().string() + ": "));
    EXPECT_THAT(*buffer->failed(), testing::HasSubstr("File too large"));
    EXPECT_EQ(state.videoPts, std::vector<double>{0.0}) << "nothing is encoded after the failure";
    EXPECT_EQ(fileNames(buffer->segments()), std::vector<std::string>{"00000001.m4s"});
    EXPECT_EQ(segmentFilesIn(buffer->dir()), std::vector<std::string>{"00000001.m4s"});

    // The run folder removed under the running buffer.
    FakeWriterState removedState;
    auto removed = makeBuffer(removedState);
    removed->appendVideo(frameAt(0.0));
    fs::remove_all(removed->dir());
    removedState.segment("one", media::SegmentTiming{0.0, 1.0});
    removed->appendVideo(frameAt(0.1));
    ASSERT_TRUE(removed->failed());
    EXPECT_THAT(*removed->failed(), testing::HasSubstr("No such file or directory"));
    EXPECT_TRUE(removed->segments().empty());
}

TEST(ReplayBuffer, DiscardRemovesTheFolderAndNeverFails) {
    FakeWriterState state;
    auto buffer = makeBuffer(state);
    buffer->appendVideo(frameAt(0.0));
    feedSeconds(state, 3);
    buffer->discard();
    EXPECT_FALSE(fs::exists(buffer->dir()));
    buffer->discard();
    state.segment("late", std::nullopt); // lost quietly, the folder is gone
    EXPECT_EQ(buffer->segments().size(), 3u);
}

// After a failed run restarts, its segments stay saveable while they are within the window:
// they count towards it and lose their oldest first; the emptied run goes with its folder.
TEST(ReplayBuffer, KeepsTheRunsBeforeARestartWithinTheWindow) {
    FakeWriterState firstState;
    auto first = makeBuffer(firstState, 5);
    first->appendVideo(frameAt(0.0));
    firstState.init("FIRST");
    feedSeconds(firstState, 4);
    first->finish();
    std::vector<ReplayBuffer::EndedRun> ended = first->handOver();
    ASSERT_EQ(ended.size(), 1u);
    EXPECT_EQ(ended[0].segments.size(), 4u);
    first->discard();
    EXPECT_TRUE(fs::exists(first->dir() / "00000004.m4s")) << "handed over, not deleted";

    FakeWriterState secondState;
    auto second = makeBuffer(secondState, 5); // cleans up stale folders: the kept one is locked
    EXPECT_TRUE(fs::exists(first->dir()));
    FakeWriterState emptyState;
    auto empty = makeBuffer(emptyState, 5);
    std::vector<ReplayBuffer::EndedRun> nothing = empty->handOver();
    EXPECT_TRUE(nothing.empty()) << "a run without segments is not handed over";
    empty->discard();
    EXPECT_FALSE(fs::exists(empty->dir()));

    second->keepEarlierRuns(std::move(ended));
    EXPECT_EQ(second->bufferedSeconds(), 4.0);
    second->appendVideo(frameAt(50.0));
    secondState.init("SECOND");
    secondState.segment("s1", media::SegmentTiming{50.0, 1.0});
    const ReplayBuffer::SegmentSet set = second->chooseSegments(3.0);
    ASSERT_EQ(set.runs.size(), 2u);
    EXPECT_EQ(std::string(set.runs[0].init.begin(), set.runs[0].init.end()), "FIRST");
    EXPECT_EQ(set.runs[0].files, (std::vector<fs::path>{first->dir() / "00000003.m4s",
                                                        first->dir() / "00000004.m4s"}));
    EXPECT_EQ(std::string(set.runs[1].init.begin(), set.runs[1].init.end()), "SECOND");
    EXPECT_EQ(set.runs[1].files, std::vector<fs::path>{second->dir() / "00000001.m4s"});
    EXPECT_EQ(second->chooseSegments(1.0).runs.size(), 1u) << "the newest run covers it alone";

    // Window 5 + 2 s: each new segment beyond it pushes out the oldest of the earlier run.
    for (int i = 2; i <= 6; ++i)
        secondState.segment("s", media::SegmentTiming{49.0 + i, 1.0});
    EXPECT_EQ(segmentFilesIn(first->dir()), std::vector<std::string>{"00000004.m4s"});
    EXPECT_EQ(second->bufferedSeconds(), 7.0);
    secondState.segment("s7", media::SegmentTiming{56.0, 1.0});
    EXPECT_FALSE(fs::exists(first->dir())) << "out of the window: the folder goes";
    EXPECT_EQ(second->chooseSegments(100.0).runs.size(), 1u);
    EXPECT_EQ(second->segments().size(), 7u);

    // A stop deletes the kept runs with the run's own folder.
    FakeWriterState thirdState;
    auto third = makeBuffer(thirdState, 5);
    second->finish();
    third->keepEarlierRuns(second->handOver());
    third->discard();
    EXPECT_FALSE(fs::exists(second->dir()));
    EXPECT_FALSE(fs::exists(third->dir()));
}
