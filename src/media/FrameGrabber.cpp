#include "FrameGrabber.h"

#include "CodecIo.h"
#include "MediaError.h"
#include "MediaInput.h"

#include <algorithm>
#include <cmath>

namespace vantel::media {

namespace {

// The mjpeg encoder's quantiser 5 gives tables closest to those of JPEG quality 82.
constexpr int jpegQscale = 5;
// A key frame is at most a few seconds of packets away; give up on files that never decode.
constexpr int maxPacketsToTry = 2000;

FramePtr decodeFirstFrame(AVFormatContext* fmt, int stream, double at) {
    const AVStream* st = fmt->streams[stream];
    CodecContextPtr dec = openDecoder(st);
    if (st->start_time == AV_NOPTS_VALUE || toSeconds(st->start_time, st->time_base) < at)
        av_seek_frame(fmt, stream, fromSeconds(at, st->time_base), AVSEEK_FLAG_BACKWARD);
    for (unsigned i = 0; i < fmt->nb_streams; ++i)
        fmt->streams[i]->discard = int(i) == stream ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    PacketPtr pkt = makePacket();
    FramePtr frame = makeFrame();
    for (int n = 0; n < maxPacketsToTry; ++n) {
        const int err = av_read_frame(fmt, pkt.get());
        if (err < 0) {
            avcodec_send_packet(dec.get(), nullptr);
        } else if (pkt->stream_index != stream) {
            av_packet_unref(pkt.get());
            continue;
        } else {
            avcodec_send_packet(dec.get(), pkt.get()); // an undecodable packet is skipped
            av_packet_unref(pkt.get());
        }
        if (avcodec_receive_frame(dec.get(), frame.get()) == 0)
            return frame;
        if (err < 0)
            break;
    }
    return nullptr;
}

struct Size {
    int width = 0;
    int height = 0;
};

int evenAtLeast2(double v) {
    return std::max(2, int(v) & ~1);
}

// The stored picture's size after scaling, before turning: the displayed picture (pixel aspect
// applied) fits within maxSize x maxSize, never enlarged.
Size fittedSize(const AVFrame* f, double maxSize) {
    double w = f->width;
    const double h = f->height;
    if (f->sample_aspect_ratio.num > 0 && f->sample_aspect_ratio.den > 0)
        w *= av_q2d(f->sample_aspect_ratio);
    const double scale = std::min(1.0, maxSize / std::max(w, h));
    return {evenAtLeast2(w * scale), evenAtLeast2(h * scale)};
}

FramePtr allocFrame(int width, int height) {
    FramePtr f = makeFrame();
    f->format = AV_PIX_FMT_YUVJ420P;
    f->width = width;
    f->height = height;
    f->color_range = AVCOL_RANGE_JPEG;
    if (av_frame_get_buffer(f.get(), 0) < 0)
        return nullptr;
    return f;
}

// Full-range BT.601 4:2:0, what JPEG viewers expect.
FramePtr toJpegPixels(const AVFrame* src, Size size) {
    SwsPtr sws(sws_getContext(src->width, src->height, AVPixelFormat(src->format), size.width,
                              size.height, AV_PIX_FMT_YUV420P, SWS_BICUBIC, nullptr, nullptr,
                              nullptr));
    FramePtr dst = allocFrame(size.width, size.height);
    if (!sws || !dst)
        return nullptr;
    const int srcSpace = src->colorspace == AVCOL_SPC_BT709 ? SWS_CS_ITU709 : SWS_CS_ITU601;
    sws_setColorspaceDetails(sws.get(), sws_getCoefficients(srcSpace),
                             src->color_range == AVCOL_RANGE_JPEG ? 1 : 0,
                             sws_getCoefficients(SWS_CS_ITU601), 1, 0, 1 << 16, 1 << 16);
    if (sws_scale(sws.get(), src->data, src->linesize, 0, src->height, dst->data, dst->linesize) <=
        0)
        return nullptr;
    return dst;
}

// Turns one plane clockwise by `degrees`; (x, y) of the result reads the source pixel that
// lands there.
void rotatePlane(const uint8_t* src, int srcStride, int w, int h, uint8_t* dst, int dstStride,
                 int degrees) {
    const int dw = degrees == 180 ? w : h;
    const int dh = degrees == 180 ? h : w;
    for (int y = 0; y < dh; ++y) {
        for (int x = 0; x < dw; ++x) {
            int sx = x, sy = y;
            if (degrees == 90) {
                sx = y;
                sy = h - 1 - x;
            } else if (degrees == 270) {
                sx = w - 1 - y;
                sy = x;
            } else {
                sx = w - 1 - x;
                sy = h - 1 - y;
            }
            dst[y * dstStride + x] = src[sy * srcStride + sx];
        }
    }
}

FramePtr rotated(FramePtr src, int degrees) {
    if (degrees == 0)
        return src;
    const bool swap = degrees != 180;
    FramePtr dst = allocFrame(swap ? src->height : src->width, swap ? src->width : src->height);
    if (!dst)
        return nullptr;
    for (int p = 0; p < 3; ++p) {
        const int w = p == 0 ? src->width : src->width / 2;
        const int h = p == 0 ? src->height : src->height / 2;
        rotatePlane(src->data[p], src->linesize[p], w, h, dst->data[p], dst->linesize[p], degrees);
    }
    return dst;
}

std::optional<std::vector<uint8_t>> encodeJpeg(AVFrame* pic) {
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MJPEG);
    CodecContextPtr enc(codec ? avcodec_alloc_context3(codec) : nullptr);
    if (!enc)
        return std::nullopt;
    enc->width = pic->width;
    enc->height = pic->height;
    enc->pix_fmt = AV_PIX_FMT_YUVJ420P;
    enc->color_range = AVCOL_RANGE_JPEG;
    enc->time_base = {1, 25};
    enc->flags |= AV_CODEC_FLAG_QSCALE;
    enc->global_quality = jpegQscale * FF_QP2LAMBDA;
    if (avcodec_open2(enc.get(), codec, nullptr) < 0)
        return std::nullopt;
    pic->quality = enc->global_quality;
    pic->pts = 0;
    std::optional<std::vector<uint8_t>> jpeg;
    auto keep = [&](PacketPtr pkt) {
        if (!jpeg)
            jpeg.emplace(pkt->data, pkt->data + pkt->size);
    };
    encodeAndDrain(enc.get(), pic, keep, "cannot encode the picture");
    encodeAndDrain(enc.get(), nullptr, keep, "cannot encode the picture");
    return jpeg;
}

std::optional<std::vector<uint8_t>> grab(const std::filesystem::path& file, double maxSize,
                                         double at) {
    InputContextPtr fmt = openMediaInput(file);
    const int v = firstVideoStream(fmt.get());
    if (v < 0)
        return std::nullopt;
    FramePtr frame = decodeFirstFrame(fmt.get(), v, at);
    if (!frame || frame->width <= 0 || frame->height <= 0)
        return std::nullopt;
    FramePtr pic = toJpegPixels(frame.get(), fittedSize(frame.get(), maxSize));
    if (pic)
        pic = rotated(std::move(pic), displayRotation(fmt->streams[v]));
    if (!pic)
        return std::nullopt;
    return encodeJpeg(pic.get());
}

} // namespace

std::optional<std::vector<uint8_t>> jpegFrame(const std::filesystem::path& file, double maxSize,
                                              double at) {
    if (!(maxSize >= 2.0) || !std::isfinite(at))
        return std::nullopt;
    try {
        return grab(file, maxSize, at);
    } catch (const MediaError&) {
        return std::nullopt;
    }
}

} // namespace vantel::media
