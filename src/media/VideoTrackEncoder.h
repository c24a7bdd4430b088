#pragma once

// The video encoder of the segmenting writer: libx264 or libx265 tuned for live capture beside a
// running game (fast presets, no look-ahead, no B-frames), a key frame at least once a second,
// BT.709 limited-range tags, and real packet durations (the FFmpeg wrappers leave them at 0).
//
// Thread: used by one thread at a time (the writer's worker after construction). Errors are
// thrown as MediaError: openOutput from the constructor, write from encode() and flush().

#include "FfmpegPtr.h"
#include "SegmentWriter.h"

#include <cstdint>
#include <functional>

namespace vantel::media {

class VideoTrackEncoder {
public:
    // Packets arrive in decode order, time-stamped in kTimeBase, each with its duration set.
    using PacketHandler = std::function<void(PacketPtr)>;
    static constexpr AVRational kTimeBase{1, 90000};

    VideoTrackEncoder(const WriterConfig& config, PacketHandler onPacket);

    const AVCodecContext& context() const { return *m_ctx; }

    // Encodes `frame` at the slot of the frame-rate grid nearest to `ticks` (kTimeBase; the
    // grid starts at the first frame's ticks). A frame whose slot is at or before the previous
    // frame's is ignored, so the output is strictly increasing with at most one frame per slot.
    // Frames of another size or format are scaled.
    void encode(FramePtr frame, int64_t ticks);
    // Drains the encoder; the last packet gets the previous frame interval as its duration.
    void flush();

    int64_t frameTicks() const { return m_frameTicks; }

private:
    void open(const WriterConfig& config);
    FramePtr conform(FramePtr frame);
    void send(const AVFrame* frame);
    void hold(PacketPtr packet);

    CodecContextPtr m_ctx;
    SwsPtr m_sws;
    PacketHandler m_onPacket;
    PacketPtr m_held; // newest packet, waiting for its successor to learn its duration
    int64_t m_frameTicks = 0;
    int64_t m_lastTicks = INT64_MIN;
    int64_t m_gridOrigin = 0; // the first frame's ticks
    int64_t m_lastKeyTicks = INT64_MIN;
    int64_t m_lastDuration = 0;
};

} // namespace vantel::media
