#include "FragmentMuxer.h"

#include "MediaError.h"

#include <algorithm>

namespace vantel::media {

namespace {

constexpr int kIoBufferSize = 64 * 1024;

[[noreturn]] void fail(MediaError::Kind kind, const std::string& what, int err) {
    throw MediaError(kind, what + ": " + averror(err));
}

} // namespace

FragmentMuxer::FragmentMuxer() {
    AVFormatContext* ctx = nullptr;
    if (int err = avformat_alloc_output_context2(&ctx, nullptr, "mp4", nullptr); err < 0)
        fail(MediaError::Kind::openOutput, "Could not create the MP4 muxer", err);
    m_ctx.reset(ctx);
    auto* buffer = static_cast<unsigned char*>(av_malloc(kIoBufferSize));
    if (!buffer)
        throw MediaError(MediaError::Kind::openOutput, "Out of memory for the muxer.");
    m_io.reset(avio_alloc_context(buffer, kIoBufferSize, 1, this, nullptr, &onWrite, nullptr));
    if (!m_io) {
        av_free(buffer);
        throw MediaError(MediaError::Kind::openOutput, "Out of memory for the muxer.");
    }
    m_io->seekable = 0;
    m_ctx->pb = m_io.get();
    m_ctx->flags |= AVFMT_FLAG_CUSTOM_IO;
}

int FragmentMuxer::onWrite(void* opaque, uint8_t* data, int size) {
    auto* self = static_cast<FragmentMuxer*>(opaque);
    self->m_output.insert(self->m_output.end(), data, data + size);
    return size;
}

int FragmentMuxer::addStream(const AVCodecContext& encoder, const char* language,
                             uint32_t codecTag) {
    AVStream* st = avformat_new_stream(m_ctx.get(), nullptr);
    if (!st)
        throw MediaError(MediaError::Kind::openOutput, "Could not add a track to the muxer.");
    if (int err = avcodec_parameters_from_context(st->codecpar, &encoder); err < 0)
        fail(MediaError::Kind::openOutput, "Could not add a track to the muxer", err);
    st->codecpar->codec_tag = codecTag;
    st->time_base = encoder.time_base;
    if (language)
        av_dict_set(&st->metadata, "language", language, 0);
    return st->index;
}

std::vector<uint8_t> FragmentMuxer::writeHeader() {
    AVDictionary* options = nullptr;
    av_dict_set(&options, "movflags", "frag_custom+empty_moov+default_base_moof+skip_trailer", 0);
    int err = avformat_write_header(m_ctx.get(), &options);
    av_dict_free(&options);
    if (err < 0)
        fail(MediaError::Kind::openOutput, "Could not write the MP4 header", err);
    m_headerWritten = true;
    avio_flush(m_ctx->pb);
    return takeOutput();
}

AVRational FragmentMuxer::streamTimeBase(int stream) const {
    return m_ctx->streams[stream]->time_base;
}

void FragmentMuxer::queue(PacketPtr packet, int stream, AVRational timeBase) {
    av_packet_rescale_ts(packet.get(), timeBase, streamTimeBase(stream));
    packet->stream_index = stream;
    m_queue.push_back({std::move(packet), stream});
}

FragmentMuxer::Fragment FragmentMuxer::cut(int64_t cutTicks, AVRational cutBase) {
    std::vector<Queued> before;
    std::vector<Queued> after;
    for (Queued& q : m_queue) {
        bool early = av_compare_ts(q.packet->dts, streamTimeBase(q.stream), cutTicks, cutBase) < 0;
        (early ? before : after).push_back(std::move(q));
    }
    m_queue = std::move(after);
    return writeFragment(std::move(before));
}

FragmentMuxer::Fragment FragmentMuxer::cutAll() {
    std::vector<Queued> all = std::move(m_queue);
    m_queue.clear();
    return writeFragment(std::move(all));
}

FragmentMuxer::Fragment FragmentMuxer::writeFragment(std::vector<Queued> packets) {
    Fragment fragment;
    if (packets.empty())
        return fragment;
    std::stable_sort(packets.begin(), packets.end(), [this](const Queued& a, const Queued& b) {
        return av_compare_ts(a.packet->dts, streamTimeBase(a.stream), b.packet->dts,
                             streamTimeBase(b.stream)) < 0;
    });
    for (Queued& q : packets) {
        if (q.stream == 0) {
            int64_t pts = q.packet->pts;
            fragment.videoStart = fragment.videoStart ? std::min(*fragment.videoStart, pts) : pts;
            fragment.videoDuration += q.packet->duration;
        }
        if (int err = av_write_frame(m_ctx.get(), q.packet.get()); err < 0)
            fail(MediaError::Kind::write, "Could not write a media segment", err);
    }
    if (int err = av_write_frame(m_ctx.get(), nullptr); err < 0)
        fail(MediaError::Kind::write, "Could not write a media segment", err);
    avio_flush(m_ctx->pb);
    fragment.bytes = takeOutput();
    return fragment;
}

void FragmentMuxer::close() {
    if (!m_headerWritten || m_closed)
        return;
    m_closed = true;
    int err = av_write_trailer(m_ctx.get());
    avio_flush(m_ctx->pb);
    m_output.clear();
    if (err < 0)
        fail(MediaError::Kind::write, "Could not close the MP4 muxer", err);
}

std::vector<uint8_t> FragmentMuxer::takeOutput() {
    std::vector<uint8_t> out;
    out.swap(m_output);
    return out;
}

} // namespace vantel::media
