#pragma once

// A scripted stand-in for the segmenting encoder: it records what the buffer hands it and lets
// a test deliver segments through the buffer's sink, as the real writer's thread would.

#include "common/FileSizeLimit.h"
#include "media/SegmentWriter.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vantel::test {

struct FakeWriterState {
    using Status = media::SegmentWriter::Status;

    // Script.
    bool startSucceeds = true;
    bool videoReady = true;
    bool audioReady = true;
    bool failOnNextVideo = false;
    std::string error = "encoder broke";
    std::function<void()> duringFinish;

    // Record.
    media::SegmentSink* sink = nullptr;
    media::WriterConfig config;
    Status status = Status::idle;
    std::vector<double> startedAt;
    std::vector<double> videoPts;
    std::vector<std::pair<media::AudioTrack, double>> audio;
    int finishCalls = 0;

    void init(const std::string& bytes) { sink->onInitSegment({bytes.begin(), bytes.end()}); }
    void segment(const std::string& bytes, std::optional<media::SegmentTiming> timing) {
        sink->onMediaSegment({bytes.begin(), bytes.end()}, timing);
    }
};

class FakeSegmentWriter : public media::SegmentWriter {
public:
    explicit FakeSegmentWriter(FakeWriterState& state)
        : m_s(state) {}

    bool start(double firstPts) override {
        m_s.startedAt.push_back(firstPts);
        m_s.status = m_s.startSucceeds ? Status::writing : Status::failed;
        return m_s.startSucceeds;
    }
    bool videoReady() const override { return m_s.videoReady; }
    bool audioReady(media::AudioTrack) const override { return m_s.audioReady; }
    void appendVideo(const media::VideoFrame& frame) override {
        m_s.videoPts.push_back(frame.pts);
        if (m_s.failOnNextVideo)
            m_s.status = Status::failed;
    }
    void appendAudio(media::AudioTrack track, const media::AudioChunk& chunk) override {
        m_s.audio.emplace_back(track, chunk.pts);
    }
    void finish() override {
        ++m_s.finishCalls;
        if (m_s.duringFinish)
            m_s.duringFinish();
        m_s.status = Status::finished;
    }
    Status status() const override { return m_s.status; }
    std::string error() const override {
        return m_s.status == Status::failed ? m_s.error : std::string();
    }

private:
    FakeWriterState& m_s;
};

inline media::SegmentWriterFactory fakeWriterFactory(FakeWriterState& state) {
    return [&state](const media::WriterConfig& config, media::SegmentSink& sink) {
        state.sink = &sink;
        state.config = config;
        return std::make_unique<FakeSegmentWriter>(state);
    };
}

inline media::VideoFrame frameAt(double pts) {
    return media::VideoFrame{nullptr, pts};
}
inline media::AudioChunk chunkAt(double pts) {
    return media::AudioChunk{{0.f, 0.f}, 2, 48000, pts};
}

// A version 4 UUID in canonical upper-case form.
inline bool isUpperUuid(const std::string& text) {
    if (text.size() != 36 || text[14] != '4' || std::string("89AB").find(text[19]) == 4)
        return false;
    for (size_t i = 0; i < text.size(); ++i) {
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        const char c = text[i];
        if (dash ? c != '-' : !((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')))
            return false;
    }
    return true;
}

} // namespace vantel::test
