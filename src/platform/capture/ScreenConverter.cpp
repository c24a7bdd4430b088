#include "ScreenConverter.h"

#include <stdexcept>

namespace vantel::platform {

ScreenConverter::ScreenConverter(int width, int height, AVPixelFormat packed, int outWidth,
                                 int outHeight)
    : m_height(height)
    , m_outWidth(outWidth)
    , m_outHeight(outHeight) {
    m_sws.reset(sws_getContext(width, height, packed, outWidth, outHeight, AV_PIX_FMT_YUV420P,
                               SWS_FAST_BILINEAR, nullptr, nullptr, nullptr));
    if (!m_sws)
        throw std::runtime_error("The screen converter could not be set up.");
    const int* bt709 = sws_getCoefficients(SWS_CS_ITU709);
    sws_setColorspaceDetails(m_sws.get(), bt709, 1, bt709, 0, 0, 1 << 16, 1 << 16);
}

media::FramePtr ScreenConverter::convert(const uint8_t* pixels, int stride) const {
    media::FramePtr frame = media::makeFrame();
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = m_outWidth;
    frame->height = m_outHeight;
    frame->color_range = AVCOL_RANGE_MPEG;
    frame->colorspace = AVCOL_SPC_BT709;
    frame->color_primaries = AVCOL_PRI_BT709;
    frame->color_trc = AVCOL_TRC_BT709;
    if (av_frame_get_buffer(frame.get(), 0) < 0)
        return nullptr;
    const uint8_t* src[4] = {pixels, nullptr, nullptr, nullptr};
    const int srcStride[4] = {stride, 0, 0, 0};
    sws_scale(m_sws.get(), src, srcStride, 0, m_height, frame->data, frame->linesize);
    return frame;
}

} // namespace vantel::platform
