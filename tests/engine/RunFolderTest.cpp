// Run folders left behind by a process that died are removed by the next buffer; folders of
// live processes are not.

#include "engine/RunFolder.h"

#include "FakeSegmentWriter.h"
#include "engine/ReplayBuffer.h"

#include <chrono>
#include <csignal>
#include <functional>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace vantel;

namespace {

struct Child {
    pid_t pid = -1;
    fs::path folder;

    void kill() {
        ::kill(pid, SIGKILL);
        int status = 0;
        ::waitpid(pid, &status, 0);
    }
};

// Runs `makeFolder` in a child process that then waits to be killed, and returns the folder it
// reported. The child never returns into the test program.
Child spawnHolder(const std::function<fs::path()>& makeFolder) {
    int fds[2];
    if (::pipe(fds) != 0)
        return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        try {
            const std::string path = makeFolder().string();
            if (::write(fds[1], path.data(), path.size()) == ssize_t(path.size())) {
                ::close(fds[1]);
                for (;;)
                    ::pause();
            }
        } catch (...) {
        }
        ::_exit(1);
    }
    ::close(fds[1]);
    std::string path;
    char chunk[256];
    for (ssize_t n; (n = ::read(fds[0], chunk, sizeof chunk)) > 0;)
        path.append(chunk, size_t(n));
    ::close(fds[0]);
    return {pid, path};
}

std::unique_ptr<ReplayBuffer> makeBuffer(test::FakeWriterState& state) {
    return std::make_unique<ReplayBuffer>(
        ReplayBuffer::Config{.width = 160, .height = 90, .fps = 30},
        test::fakeWriterFactory(state));
}

} // namespace

TEST(RunFolder, ANewBufferRemovesFoldersOfDeadRunsOnly) {
    const fs::path root = ReplayBuffer::runRoot();
    Child crashed = spawnHolder([] {
        static test::FakeWriterState state; // lives until the child is killed
        auto* buffer = makeBuffer(state).release();
        state.init("INIT");
        state.segment("segment", std::nullopt);
        return buffer->dir();
    });
    Child alive = spawnHolder([&] {
        static RunFolder folder(root);
        return folder.path();
    });
    ASSERT_GT(crashed.pid, 0);
    ASSERT_GT(alive.pid, 0);
    ASSERT_TRUE(fs::exists(crashed.folder / "00000001.m4s")) << crashed.folder;
    ASSERT_TRUE(fs::is_directory(alive.folder)) << alive.folder;
    crashed.kill();

    test::FakeWriterState ownState;
    auto own = makeBuffer(ownState); // this process's live buffer
    const fs::path unlockedLeftover = root / "vantel-record-LEFTOVER";
    const fs::path unrelated = root / "keep-me";
    // Hidden while being set up: removed only once it has plainly been abandoned.
    const fs::path abandonedPending = root / ".vantel-record-ABANDONED";
    const fs::path freshPending = root / ".vantel-record-SETTING-UP";
    fs::create_directories(unlockedLeftover / "sub");
    fs::create_directories(unrelated);
    fs::create_directories(abandonedPending);
    fs::create_directories(freshPending);
    fs::last_write_time(abandonedPending,
                        fs::file_time_type::clock::now() - std::chrono::minutes(5));

    test::FakeWriterState state;
    auto next = makeBuffer(state);
    EXPECT_FALSE(fs::exists(crashed.folder));
    EXPECT_FALSE(fs::exists(unlockedLeftover));
    EXPECT_TRUE(fs::is_directory(alive.folder));
    EXPECT_TRUE(fs::is_directory(own->dir()));
    EXPECT_TRUE(fs::is_directory(unrelated));
    EXPECT_FALSE(fs::exists(abandonedPending));
    EXPECT_TRUE(fs::is_directory(freshPending));

    alive.kill();
    own.reset(); // released without discard(): its folder is stale from now on
    auto last = makeBuffer(state);
    EXPECT_FALSE(fs::exists(alive.folder));
    EXPECT_TRUE(fs::is_directory(next->dir()));
    EXPECT_TRUE(fs::is_directory(last->dir()));
}

// A process that crashed while it kept an earlier run for its saves leaves two folders; the next
// buffer removes both, and while it lived neither was taken for stale.
TEST(RunFolder, TheKeptFolderOfAnEarlierRunIsCleanedUpAfterACrash) {
    Child crashed = spawnHolder([] {
        static test::FakeWriterState firstState, secondState;
        auto first = makeBuffer(firstState);
        first->appendVideo(test::frameAt(0.0));
        firstState.init("INIT");
        firstState.segment("segment", std::nullopt);
        first->finish();
        auto* second = makeBuffer(secondState).release();
        second->keepEarlierRuns(first->handOver());
        return fs::path(first->dir().string() + "|" + second->dir().string());
    });
    ASSERT_GT(crashed.pid, 0);
    const std::string both = crashed.folder.string();
    const size_t bar = both.find('|');
    ASSERT_NE(bar, std::string::npos) << both;
    const fs::path earlier = both.substr(0, bar);
    const fs::path current = both.substr(bar + 1);

    test::FakeWriterState state;
    auto whileAlive = makeBuffer(state);
    EXPECT_TRUE(fs::exists(earlier / "00000001.m4s")) << "kept, and locked, while it lives";
    EXPECT_TRUE(fs::is_directory(current));
    crashed.kill();
    auto next = makeBuffer(state);
    EXPECT_FALSE(fs::exists(earlier));
    EXPECT_FALSE(fs::exists(current));
}
