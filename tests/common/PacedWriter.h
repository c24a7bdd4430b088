#pragma once

// Wraps a real segment writer so that readiness is waited for instead of refused: tests feed
// generated samples faster than real time without any being dropped.

#include "media/SegmentWriter.h"

#include <chrono>
#include <memory>
#include <thread>

namespace vantel::test {

class PacedWriter : public media::SegmentWriter {
public:
    explicit PacedWriter(std::unique_ptr<media::SegmentWriter> inner)
        : m_inner(std::move(inner)) {}

    // The factory wrapping every writer that `real` makes.
    static media::SegmentWriterFactory around(media::SegmentWriterFactory real) {
        return [real](const media::WriterConfig& config, media::SegmentSink& sink) {
            return std::make_unique<PacedWriter>(real(config, sink));
        };
    }

    bool start(double firstPts) override { return m_inner->start(firstPts); }
    bool videoReady() const override {
        return waitFor([&] { return m_inner->videoReady(); });
    }
    bool audioReady(media::AudioTrack track) const override {
        return waitFor([&] { return m_inner->audioReady(track); });
    }
    void appendVideo(const media::VideoFrame& frame) override { m_inner->appendVideo(frame); }
    void appendAudio(media::AudioTrack track, const media::AudioChunk& chunk) override {
        m_inner->appendAudio(track, chunk);
    }
    void finish() override { m_inner->finish(); }
    Status status() const override { return m_inner->status(); }
    std::string error() const override { return m_inner->error(); }

private:
    // Up to ten seconds; gives up at once when the writer has failed.
    template <typename Ready> bool waitFor(Ready ready) const {
        for (int i = 0; i < 10000 && m_inner->status() != Status::failed; ++i) {
            if (ready())
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return false;
    }

    std::unique_ptr<media::SegmentWriter> m_inner;
};

} // namespace vantel::test
