#include "Mp4Output.h"

#include "FfmpegLog.h"
#include "MediaError.h"
#include "PartialFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <system_error>
#include <unistd.h>

namespace vantel::media {

namespace {

[[noreturn]] void failOpen(const std::string& what) {
    throw MediaError(MediaError::Kind::openOutput, what);
}

} // namespace

Mp4Output::Mp4Output(const std::filesystem::path& target, Existing existing)
    : m_target(target)
    , m_partial(partialPathFor(target))
    , m_existing(existing) {
    installFfmpegLog();
    std::error_code ignored;
    if (existing == Existing::refuse && std::filesystem::exists(target, ignored))
        failOpen("target exists: " + target.string());
    claim();
    if (int err = avformat_alloc_output_context2(&m_fmt, nullptr, "mp4", nullptr); err < 0) {
        release();
        failOpen("cannot create the mp4 muxer: " + averror(err));
    }
    // The muxer reopens the file by its url to move the index to the front.
    const std::string url = "file:" + m_partial.string();
    m_fmt->url = av_strdup(url.c_str());
    if (int err = avio_open(&m_fmt->pb, url.c_str(), AVIO_FLAG_WRITE); err < 0) {
        release();
        failOpen("cannot open " + m_partial.string() + ": " + averror(err));
    }
}

// Creating the partial file with O_EXCL marks it as ours to remove.
void Mp4Output::claim() {
    const int fd = ::open(m_partial.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
        failOpen("cannot create " + m_partial.string() + ": " + std::strerror(errno));
    ::close(fd);
}

Mp4Output::~Mp4Output() {
    if (!m_finished)
        release();
}

void Mp4Output::release() {
    if (m_fmt) {
        avio_closep(&m_fmt->pb);
        avformat_free_context(m_fmt);
        m_fmt = nullptr;
    }
    std::error_code ignored;
    std::filesystem::remove(m_partial, ignored);
}

AVStream* Mp4Output::addStream() {
    AVStream* st = avformat_new_stream(m_fmt, nullptr);
    if (!st)
        failOpen("cannot add a stream");
    return st;
}

void Mp4Output::copyStreamSetup(const AVStream* in, AVStream* out) {
    if (int err = avcodec_parameters_copy(out->codecpar, in->codecpar); err < 0)
        failOpen("cannot copy codec parameters: " + averror(err));
    const uint32_t tag = in->codecpar->codec_tag;
    if (av_codec_get_id(m_fmt->oformat->codec_tag, tag) != in->codecpar->codec_id)
        out->codecpar->codec_tag = 0;
    for (int i = 0; i < in->nb_side_data; ++i) {
        const AVPacketSideData& sd = in->side_data[i];
        uint8_t* dst = av_stream_new_side_data(out, sd.type, sd.size);
        if (!dst)
            failOpen("cannot copy stream side data");
        std::memcpy(dst, sd.data, sd.size);
    }
    out->time_base = in->time_base;
    out->disposition = in->disposition;
    if (const AVDictionaryEntry* lang = av_dict_get(in->metadata, "language", nullptr, 0))
        av_dict_set(&out->metadata, "language", lang->value, 0);
}

void Mp4Output::writeHeader() {
    AVDictionary* opts = nullptr;
    av_dict_set(&opts, "movflags", "+faststart", 0);
    const int err = avformat_write_header(m_fmt, &opts);
    av_dict_free(&opts);
    if (err < 0)
        failOpen("cannot write the header: " + averror(err));
}

void Mp4Output::write(AVPacket* pkt, AVRational from) {
    std::lock_guard lock(m_writeLock);
    av_packet_rescale_ts(pkt, from, m_fmt->streams[pkt->stream_index]->time_base);
    if (int err = av_interleaved_write_frame(m_fmt, pkt); err < 0)
        throw MediaError(MediaError::Kind::write, "cannot write a packet: " + averror(err));
}

void Mp4Output::finish() {
    if (int err = av_write_trailer(m_fmt); err < 0)
        throw MediaError(MediaError::Kind::write, "cannot write the index: " + averror(err));
    if (int err = avio_closep(&m_fmt->pb); err < 0)
        throw MediaError(MediaError::Kind::write, "cannot close the file: " + averror(err));
    avformat_free_context(m_fmt);
    m_fmt = nullptr;
    const std::error_code err =
        publishPartial(m_partial, m_target, m_existing == Existing::replace);
    if (err == std::errc::file_exists)
        failOpen("target exists: " + m_target.string());
    if (err)
        throw MediaError(MediaError::Kind::write,
                         "cannot name " + m_target.string() + ": " + err.message());
    m_finished = true;
}

} // namespace vantel::media
