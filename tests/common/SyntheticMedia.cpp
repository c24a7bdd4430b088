#include "SyntheticMedia.h"

#include <cmath>
#include <numbers>

namespace vantel::test {

namespace {

void fillPlane(uint8_t* data, int linesize, int w, int h, int shift, int base) {
    for (int y = 0; y < h; ++y) {
        uint8_t* row = data + ptrdiff_t(y) * linesize;
        for (int x = 0; x < w; ++x)
            row[x] = uint8_t(base + ((x + y + shift) & 127));
    }
}

void drawSquare(AVFrame* f, int64_t index) {
    int side = std::max(2, f->height / 6) & ~1;
    int span = std::max(1, f->width - side);
    int left = int((index * 8) % span) & ~1;
    int top = (f->height - side) / 2 & ~1;
    for (int y = top; y < top + side; ++y) {
        uint8_t* row = f->data[0] + ptrdiff_t(y) * f->linesize[0];
        std::fill(row + left, row + left + side, uint8_t(235));
    }
}

} // namespace

media::VideoFrame makeFrame(int width, int height, int64_t index, double pts) {
    media::FramePtr frame = media::makeFrame();
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = width;
    frame->height = height;
    frame->color_primaries = AVCOL_PRI_BT709;
    frame->color_trc = AVCOL_TRC_BT709;
    frame->colorspace = AVCOL_SPC_BT709;
    frame->color_range = AVCOL_RANGE_MPEG;
    if (av_frame_get_buffer(frame.get(), 0) < 0)
        return {};
    int shift = int(index * 3);
    fillPlane(frame->data[0], frame->linesize[0], width, height, shift, 32);
    fillPlane(frame->data[1], frame->linesize[1], width / 2, height / 2, shift / 2, 64);
    fillPlane(frame->data[2], frame->linesize[2], width / 2, height / 2, -shift / 2, 64);
    drawSquare(frame.get(), index);
    return {std::move(frame), pts};
}

media::AudioChunk makeTone(double freq, int channels, int frames, double pts, int sampleRate) {
    media::AudioChunk chunk;
    chunk.channels = channels;
    chunk.sampleRate = sampleRate;
    chunk.pts = pts;
    chunk.samples.resize(size_t(frames) * size_t(channels));
    double start = pts * sampleRate;
    for (int i = 0; i < frames; ++i) {
        double phase = 2.0 * std::numbers::pi * freq * (start + i) / sampleRate;
        float v = float(0.5 * std::sin(phase));
        for (int c = 0; c < channels; ++c)
            chunk.samples[size_t(i) * size_t(channels) + size_t(c)] = v;
    }
    return chunk;
}

} // namespace vantel::test
