#pragma once

// The send/receive exchange with libavcodec, written once: every encoder and decoder of the
// program goes through these two calls, so none can leave a packet in the codec or swallow an
// error of the final drain.
//
// Both run on the caller's thread and hand each output to the callback before returning. Errors
// are thrown as MediaError: read for a decoder, write for an encoder, with `what` and FFmpeg's
// text as the detail. An exception from the callback passes through unchanged.

#include "FfmpegPtr.h"
#include "MediaError.h"

#include <string>

namespace vantel::media {

// Sends `frame` to the encoder (nullptr: end of stream, which drains it) and hands every packet
// the encoder has ready to `onPacket` as a PacketPtr.
template <typename OnPacket>
void encodeAndDrain(AVCodecContext* enc, const AVFrame* frame, OnPacket&& onPacket,
                    const char* what) {
    if (int err = avcodec_send_frame(enc, frame); err < 0)
        throw MediaError(MediaError::Kind::write, std::string(what) + ": " + averror(err));
    for (;;) {
        PacketPtr packet = makePacket();
        const int err = avcodec_receive_packet(enc, packet.get());
        if (err == AVERROR(EAGAIN) || err == AVERROR_EOF)
            return;
        if (err < 0)
            throw MediaError(MediaError::Kind::write, std::string(what) + ": " + averror(err));
        onPacket(std::move(packet));
    }
}

// Sends `packet` to the decoder (nullptr: end of stream) and hands every frame it has ready to
// `onFrame` as an AVFrame* that is only valid during the call. A decoder that was already
// drained takes the end of stream again without complaint.
template <typename OnFrame>
void decodeAndDrain(AVCodecContext* dec, const AVPacket* packet, OnFrame&& onFrame,
                    const char* what) {
    if (int err = avcodec_send_packet(dec, packet); err < 0 && err != AVERROR_EOF)
        throw MediaError(MediaError::Kind::read, std::string(what) + ": " + averror(err));
    FramePtr frame = makeFrame();
    for (;;) {
        const int err = avcodec_receive_frame(dec, frame.get());
        if (err == AVERROR(EAGAIN) || err == AVERROR_EOF)
            return;
        if (err < 0)
            throw MediaError(MediaError::Kind::read, std::string(what) + ": " + averror(err));
        onFrame(frame.get());
        av_frame_unref(frame.get());
    }
}

} // namespace vantel::media
