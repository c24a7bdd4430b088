#pragma once

// The segmenting encoder behind the replay buffer: it takes live video frames and audio chunks
// and delivers fragmented MP4 as one initialisation segment followed by media segments of about
// one second, each beginning with a video key frame and carrying its own base decode time, so
// that the initialisation segment followed by any run of consecutive media segments is a
// playable file.
//
// Threads: start(), the append and ready calls come from one thread (the capture sample thread)
// and must never block on encoding. Segments are delivered to the SegmentSink on the writer's
// own thread, one at a time, in order. finish() is called from another thread after the last
// append and returns once every segment has been delivered.

#include "MediaSample.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vantel::media {

enum class VideoCodec { h264, hevc };

struct WriterConfig {
    int width = 0;
    int height = 0;
    int fps = 60;
    VideoCodec codec = VideoCodec::h264;
    int64_t videoBitRate = 0; // bits per second
    bool withMic = false;     // a third track: AAC mono 128 kb/s
};

// Timing of the video inside one media segment, on the clock of the appended samples.
struct SegmentTiming {
    double start = 0.0;
    double duration = 0.0;
};

class SegmentSink {
public:
    virtual ~SegmentSink() = default;
    virtual void onInitSegment(std::vector<uint8_t> bytes) = 0;
    // `timing` is absent when the writer cannot tell the video timing of the segment.
    virtual void onMediaSegment(std::vector<uint8_t> bytes,
                                std::optional<SegmentTiming> timing) = 0;
};

enum class AudioTrack { game, mic };

class SegmentWriter {
public:
    enum class Status { idle, writing, failed, finished };

    virtual ~SegmentWriter() = default;

    // Opens the encoders and the muxer; the output timeline begins at `firstPts`. Returns false
    // and enters `failed` (with error()) when that is not possible.
    virtual bool start(double firstPts) = 0;

    // Whether a sample handed over now would be taken at once. A sample offered while not ready
    // is the caller's to drop.
    virtual bool videoReady() const = 0;
    virtual bool audioReady(AudioTrack track) const = 0;
    virtual void appendVideo(const VideoFrame& frame) = 0;
    virtual void appendAudio(AudioTrack track, const AudioChunk& chunk) = 0;

    // Flushes the encoders, delivers the remaining segments and closes. Blocks until done.
    virtual void finish() = 0;

    virtual Status status() const = 0;
    // Why the writer failed; empty unless status() is failed.
    virtual std::string error() const = 0;
};

using SegmentWriterFactory =
    std::function<std::unique_ptr<SegmentWriter>(const WriterConfig&, SegmentSink&)>;

} // namespace vantel::media
