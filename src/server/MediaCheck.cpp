#include "MediaCheck.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
}

#include <cstring>
#include <memory>

namespace vantel::server {

namespace {

struct Source {
    BlobReader* reader;
    int64_t position = 0;
};

int readPacket(void* opaque, uint8_t* buffer, int size) {
    auto* source = static_cast<Source*>(opaque);
    try {
        const size_t got =
            source->reader->read(source->position, reinterpret_cast<char*>(buffer), size_t(size));
        if (got == 0)
            return AVERROR_EOF;
        source->position += int64_t(got);
        return int(got);
    } catch (const BlobError&) {
        return AVERROR(EIO);
    }
}

int64_t seek(void* opaque, int64_t offset, int whence) {
    auto* source = static_cast<Source*>(opaque);
    const int64_t size = source->reader->size();
    switch (whence & ~AVSEEK_FORCE) {
    case AVSEEK_SIZE:
        return size;
    case SEEK_SET:
        source->position = offset;
        break;
    case SEEK_CUR:
        source->position += offset;
        break;
    case SEEK_END:
        source->position = size + offset;
        break;
    default:
        return AVERROR(EINVAL);
    }
    return source->position;
}

struct IoDeleter {
    void operator()(AVIOContext* io) const {
        av_freep(&io->buffer);
        avio_context_free(&io);
    }
};
struct FormatDeleter {
    void operator()(AVFormatContext* format) const { avformat_close_input(&format); }
};

const MediaRefused notMp4("The upload is not an MP4 video. Share clips saved by Vantel Record.");

} // namespace

VideoFacts checkMp4(BlobReader& reader) {
    Source source{&reader};
    constexpr int bufferSize = 1 << 16;
    auto* buffer = static_cast<unsigned char*>(av_malloc(bufferSize));
    if (!buffer)
        throw std::bad_alloc();
    std::unique_ptr<AVIOContext, IoDeleter> io(
        avio_alloc_context(buffer, bufferSize, 0, &source, readPacket, nullptr, seek));
    if (!io) {
        av_free(buffer);
        throw std::bad_alloc();
    }
    AVFormatContext* raw = avformat_alloc_context();
    raw->pb = io.get();
    raw->flags |= AVFMT_FLAG_CUSTOM_IO;
    const AVInputFormat* mov = av_find_input_format("mov");
    if (avformat_open_input(&raw, nullptr, mov, nullptr) < 0)
        throw notMp4; // avformat_open_input frees the context on failure
    std::unique_ptr<AVFormatContext, FormatDeleter> format(raw);
    if (avformat_find_stream_info(format.get(), nullptr) < 0)
        throw notMp4;
    const int index = av_find_best_stream(format.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (index < 0)
        throw MediaRefused("The upload has no video track.");
    const AVCodecParameters* video = format->streams[index]->codecpar;
    if (video->codec_id != AV_CODEC_ID_H264)
        throw MediaRefused("The upload's video is not H.264, which chat programs need to play "
                           "it.");
    if (video->width <= 0 || video->height <= 0)
        throw MediaRefused("The upload's video has no picture size.");
    double duration = 0;
    if (format->duration > 0)
        duration = double(format->duration) / AV_TIME_BASE;
    else if (format->streams[index]->duration > 0)
        duration =
            double(format->streams[index]->duration) * av_q2d(format->streams[index]->time_base);
    if (duration <= 0)
        throw MediaRefused("The upload's video has no length.");
    return {video->width, video->height, duration};
}

AssetFacts checkJpeg(const QByteArray& bytes) {
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.constData());
    const qsizetype size = bytes.size();
    const MediaRefused notJpeg("The thumbnail is not a JPEG picture.");
    if (size < 4 || data[0] != 0xFF || data[1] != 0xD8)
        throw notJpeg;
    qsizetype at = 2;
    while (at + 4 <= size) {
        if (data[at] != 0xFF)
            throw notJpeg;
        const unsigned char marker = data[at + 1];
        if (marker == 0xFF) {
            ++at;
            continue;
        }
        const qsizetype length = (data[at + 2] << 8) | data[at + 3];
        if (length < 2)
            throw notJpeg;
        const bool startOfFrame =
            marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (startOfFrame) {
            if (at + 9 > size)
                throw notJpeg;
            const int64_t height = (data[at + 5] << 8) | data[at + 6];
            const int64_t width = (data[at + 7] << 8) | data[at + 8];
            if (width <= 0 || height <= 0)
                throw notJpeg;
            return {width, height};
        }
        at += 2 + length;
    }
    throw notJpeg;
}

} // namespace vantel::server
