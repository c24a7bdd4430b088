// The sample thread's failure path: a failure reported while the stream is still starting ends
// the run once it starts, and a stop forgets it so that a restart runs clean.

#include "platform/capture/SampleThread.h"

#include <chrono>
#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>
#include <string>
#include <vector>

using namespace vantel::platform;
using namespace std::chrono_literals;

namespace {

class Recorder : public SampleHandler {
public:
    void onVideo(const vantel::media::VideoFrame&, FrameStatus) override {}
    void onAudio(const vantel::media::AudioChunk&, bool) override {}
    void onStreamStopped(const std::string& error) override {
        std::lock_guard lock(m_lock);
        m_stops.push_back(error);
        m_changed.notify_all();
    }
    void step() {
        std::lock_guard lock(m_lock);
        ++m_steps;
        m_changed.notify_all();
    }

    bool waitForStop() {
        std::unique_lock lock(m_lock);
        return m_changed.wait_for(lock, 5s, [this] { return !m_stops.empty(); });
    }
    bool waitForSteps(int count) {
        std::unique_lock lock(m_lock);
        return m_changed.wait_for(lock, 5s, [&] { return m_steps >= count; });
    }
    std::vector<std::string> stops() {
        std::lock_guard lock(m_lock);
        return m_stops;
    }
    int steps() {
        std::lock_guard lock(m_lock);
        return m_steps;
    }

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::vector<std::string> m_stops;
    int m_steps = 0;
};

} // namespace

TEST(SampleThread, AFailureBeforeStartEndsTheRunAndAStopForgetsIt) {
    Recorder handler;
    SampleThread samples(handler, [&] { handler.step(); });

    // A sound source started before the thread fails at once.
    samples.pushError("The sound server went away.");
    samples.start(100);
    ASSERT_TRUE(handler.waitForStop()) << "the failure was forgotten by the start";
    EXPECT_EQ(handler.stops(), std::vector<std::string>{"The sound server went away."});
    EXPECT_EQ(handler.steps(), 0) << "no tick after a failure";

    samples.stop();
    samples.start(100);
    EXPECT_TRUE(handler.waitForSteps(3)) << "a restart after the stop runs";
    samples.stop();
    EXPECT_EQ(handler.stops().size(), 1u);
}
