// Joining the newest buffered segments into one file, over a scripted writer.

#include "FakeSegmentWriter.h"
#include "engine/RecordError.h"
#include "engine/ReplayBuffer.h"
#include "media/MediaSample.h"

#include <atomic>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <iterator>
#include <optional>
#include <thread>

namespace fs = std::filesystem;
using namespace vantel;
using vantel::test::FakeWriterState;

namespace {

const ReplayBuffer::Config kConfig{.width = 160, .height = 90, .fps = 30};

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::vector<fs::path> snapshotFiles() {
    std::vector<fs::path> found;
    for (const auto& entry : fs::directory_iterator(fs::temp_directory_path()))
        if (entry.path().filename().string().starts_with("snap-"))
            found.push_back(entry.path());
    return found;
}

class SnapshotTest : public testing::Test {
protected:
    void SetUp() override {
        m_buffer = std::make_unique<ReplayBuffer>(kConfig, test::fakeWriterFactory(m_state));
        m_buffer->appendVideo(test::frameAt(0.0));
    }
    void TearDown() override {
        for (const auto& path : snapshotFiles())
            fs::remove(path);
        m_buffer->discard();
    }

    // Segment i holds "<i>;" and starts where the previous one ended.
    void feed(const std::vector<double>& durations) {
        for (double duration : durations) {
            m_state.segment(std::to_string(++m_count) + ";",
                            media::SegmentTiming{m_clock, duration});
            m_clock += duration;
        }
    }
    // The snapshot's bytes, which it then deletes.
    std::string take(const ReplayBuffer::Snapshot& snap) {
        std::string bytes = readFile(snap.url);
        fs::remove(snap.url);
        return bytes;
    }

    FakeWriterState m_state;
    std::unique_ptr<ReplayBuffer> m_buffer;
    int m_count = 0;
    double m_clock = 100.0;
};

std::string joined(int from, int to) {
    std::string bytes = "INIT";
    for (int i = from; i <= to; ++i)
        bytes += std::to_string(i) + ";";
    return bytes;
}

} // namespace

TEST_F(SnapshotTest, NothingBufferedCreatesNoFile) {
    auto expectNothing = [&] {
        try {
            m_buffer->snapshot(10);
            ADD_FAILURE() << "snapshot succeeded";
        } catch (const RecordError& error) {
            EXPECT_EQ(error.kind(), RecordError::Kind::nothingBuffered);
            EXPECT_STREQ(error.what(), "Nothing recorded yet. Give it a second.");
        }
        EXPECT_TRUE(snapshotFiles().empty());
    };
    expectNothing();
    feed({1.0}); // a segment but no initialisation segment
    expectNothing();

    FakeWriterState state;
    ReplayBuffer initOnly(kConfig, test::fakeWriterFactory(state));
    state.init("INIT");
    EXPECT_THROW(initOnly.snapshot(10), RecordError);
    EXPECT_TRUE(snapshotFiles().empty());
}

TEST_F(SnapshotTest, ChoosesTheNewestSegmentsCoveringTheSeconds) {
    m_state.init("OLD");
    m_state.init("INIT");
    feed(std::vector<double>(40, 1.0));

    auto snap = m_buffer->snapshot(30);
    const std::string name = snap.url.filename().string();
    EXPECT_TRUE(name.starts_with("snap-") && name.ends_with(".mp4")) << name;
    EXPECT_TRUE(test::isUpperUuid(name.substr(5, name.size() - 9))) << name;
    EXPECT_EQ(snap.url.parent_path(), fs::temp_directory_path());
    EXPECT_EQ(take(snap), joined(11, 40));
    EXPECT_EQ(snap.to, 140.0);
    EXPECT_EQ(snap.from, 110.0);

    snap = m_buffer->snapshot(0);
    EXPECT_EQ(take(snap), joined(40, 40));
    EXPECT_EQ(snap.from, snap.to);

    // A request made while segment 36 was being recorded: what came after is left out.
    snap = m_buffer->snapshot(5, 135.5);
    EXPECT_EQ(take(snap), joined(32, 36));
    EXPECT_EQ(snap.to, 136.0);
    EXPECT_THROW(m_buffer->snapshot(5, 100.0), RecordError) << "nothing started before 100";

    snap = m_buffer->snapshot(1000); // more than buffered: all 32 listed, from the oldest start
    EXPECT_EQ(take(snap), joined(9, 40));
    EXPECT_EQ(snap.from, 108.0);
    EXPECT_EQ(snap.to, 140.0);
    EXPECT_EQ(m_buffer->bufferedSeconds(), 32.0);
}

TEST_F(SnapshotTest, UnevenSegmentsAndAMissingFile) {
    m_state.init("INIT");
    feed({0.9, 1.2, 0.8, 1.1});
    // 1.1 + 0.8 < 2.0, so the 1.2-second segment is taken too and `from` trims the excess.
    auto snap = m_buffer->snapshot(2.0);
    EXPECT_EQ(take(snap), joined(2, 4));
    EXPECT_DOUBLE_EQ(snap.to, 104.0);
    EXPECT_DOUBLE_EQ(snap.from, 102.0);

    fs::remove(m_buffer->segments()[2].url); // as if retention had just deleted it
    snap = m_buffer->snapshot(2.0);
    EXPECT_EQ(take(snap), "INIT2;4;");
    EXPECT_DOUBLE_EQ(snap.from, 102.0);
    EXPECT_DOUBLE_EQ(snap.to, 104.0);
}

TEST_F(SnapshotTest, AFailedWriteLeavesNoFile) {
    m_state.init("INIT");
    m_state.segment(std::string(4096, 's'), std::nullopt);
    try {
        test::FileSizeLimit limit(1000);
        m_buffer->snapshot(5);
        ADD_FAILURE() << "snapshot succeeded on a full disk";
    } catch (const fs::filesystem_error& error) {
        EXPECT_EQ(error.code(), std::errc::file_too_large);
    }
    EXPECT_TRUE(snapshotFiles().empty());
}

// A save asked for when the newest segment was written more than two seconds earlier fails with
// the reason: the recording has stopped, and older seconds are not the ones the player wants.
TEST_F(SnapshotTest, ASaveFailsWhenTheNewestSegmentIsOld) {
    m_state.init("INIT");
    const double now = media::captureClockNow();
    m_clock = now - 3.0;
    feed({1.0, 1.0, 1.0}); // written just now, ending now
    EXPECT_NO_THROW(m_buffer->chooseSegments(5, now + 1.5));
    EXPECT_EQ(take(m_buffer->snapshot(5, now + 1.5)), joined(1, 3));
    auto expectStale = [&](const std::function<void()>& save, const char* text) {
        try {
            save();
            ADD_FAILURE() << "saved old seconds as new";
        } catch (const RecordError& error) {
            EXPECT_STREQ(error.what(), text);
        }
        EXPECT_TRUE(snapshotFiles().empty());
    };
    // The recording stalled: no segment for the next 3.5 seconds.
    expectStale([&] { m_buffer->chooseSegments(5, now + 3.5); },
                "Nothing was recorded in the last 3 seconds.");
    expectStale([&] { m_buffer->snapshot(5, now + 3.5); },
                "Nothing was recorded in the last 3 seconds.");
    EXPECT_NO_THROW(m_buffer->chooseSegments(5)) << "no request time, no age";

    // Segments the writer hands over while finishing count from the end of their media.
    FakeWriterState state;
    ReplayBuffer ended(kConfig, test::fakeWriterFactory(state));
    ended.appendVideo(test::frameAt(0.0));
    state.init("INIT");
    state.duringFinish = [&] {
        state.segment("last;", media::SegmentTiming{now - 6.0, 1.0});
    };
    ended.finish();
    expectStale([&] { ended.chooseSegments(5, now); },
                "Nothing was recorded in the last 5 seconds.");
    ended.discard();
}

// The segment numbers in a snapshot's bytes, or nothing when the bytes are not the
// initialisation segment followed by whole segments.
std::optional<std::vector<int>> segmentNumbers(const std::string& bytes) {
    if (!bytes.starts_with("INIT"))
        return std::nullopt;
    std::vector<int> numbers;
    size_t at = 4;
    while (at < bytes.size()) {
        const size_t end = bytes.find(';', at);
        if (end == std::string::npos || end == at)
            return std::nullopt;
        numbers.push_back(std::stoi(bytes.substr(at, end - at)));
        at = end + 1;
    }
    return numbers;
}

// Snapshots taken while segments arrive and retention deletes files. Each must be the
// initialisation segment followed by whole segments in increasing order (retention may take
// some of the chosen ones away between the copy and the read).
TEST_F(SnapshotTest, ConcurrentWithDelivery) {
    FakeWriterState state;
    ReplayBuffer buffer(
        ReplayBuffer::Config{.width = 160, .height = 90, .fps = 30, .keepSeconds = 3},
        test::fakeWriterFactory(state));
    state.init("INIT");
    state.segment("0;", media::SegmentTiming{0.0, 1.0});
    std::atomic<bool> done = false;
    std::thread writer([&] {
        for (int i = 1; i <= 400; ++i)
            state.segment(std::to_string(i) + ";", media::SegmentTiming{double(i), 1.0});
        done = true;
    });
    int taken = 0;
    int bad = 0;
    while (!done || taken < 5) {
        const auto snap = buffer.snapshot(4);
        const auto numbers = segmentNumbers(take(snap));
        if (!numbers || !std::is_sorted(numbers->begin(), numbers->end()) ||
            snap.to - snap.from > 4.0 || buffer.bufferedSeconds() > 6.0)
            ++bad;
        ++taken;
    }
    writer.join();
    EXPECT_EQ(bad, 0) << "of " << taken;
    EXPECT_EQ(take(buffer.snapshot(100)), "INIT396;397;398;399;400;");
    buffer.discard();
}
