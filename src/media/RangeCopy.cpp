#include "RangeCopy.h"

#include "MediaError.h"
#include "MediaInput.h"
#include "Mp4Output.h"
#include "RangeReader.h"

#include <algorithm>
#include <limits>
#include <vector>

namespace vantel::media {

namespace {

std::vector<int> copiedStreams(const AVFormatContext* fmt) {
    std::vector<int> streams;
    for (unsigned i = 0; i < fmt->nb_streams; ++i) {
        const AVStream* st = fmt->streams[i];
        const auto type = st->codecpar->codec_type;
        if ((type == AVMEDIA_TYPE_VIDEO && !(st->disposition & AV_DISPOSITION_ATTACHED_PIC)) ||
            type == AVMEDIA_TYPE_AUDIO)
            streams.push_back(int(i));
    }
    return streams;
}

// Without a range the copy starts where the video (else the first stream) starts.
double wholeFileStart(const AVFormatContext* fmt, const std::vector<int>& streams) {
    const int v = firstVideoStream(fmt);
    const AVStream* st = fmt->streams[v >= 0 ? v : streams.front()];
    return st->start_time != AV_NOPTS_VALUE ? toSeconds(st->start_time, st->time_base) : 0.0;
}

} // namespace

void copyRange(const std::filesystem::path& source, const std::filesystem::path& target,
               std::optional<TimeRange> range) {
    InputContextPtr in = openMediaInput(source);
    const std::vector<int> streams = copiedStreams(in.get());
    if (streams.empty())
        throw MediaError(MediaError::Kind::openInput, "the source holds no video or audio");
    const double start = range ? range->start : wholeFileStart(in.get(), streams);
    const double end = range ? range->end : std::numeric_limits<double>::infinity();
    if (!(end > start))
        throw MediaError(MediaError::Kind::read, "the range is empty");

    Mp4Output out(target, Mp4Output::Existing::refuse);
    std::vector<int> outIndex(in->nb_streams, -1);
    for (int i : streams) {
        AVStream* ost = out.addStream();
        out.copyStreamSetup(in->streams[i], ost);
        outIndex[i] = ost->index;
    }
    out.writeHeader();

    RangeReader reader(in.get(), streams, start, end);
    PacketPtr pkt = makePacket();
    const int video = firstVideoStream(in.get());
    bool wroteVideo = false;
    while (reader.next(pkt.get())) {
        const AVRational tb = in->streams[pkt->stream_index]->time_base;
        // Lead-in frames before the start do not count: they are hidden by the edit list.
        wroteVideo |=
            pkt->stream_index == video && pkt->pts + std::max<int64_t>(1, pkt->duration) > 0;
        pkt->stream_index = outIndex[pkt->stream_index];
        out.write(pkt.get(), tb);
    }
    if (video >= 0 && !wroteVideo)
        throw MediaError(MediaError::Kind::read, "the range holds no video");
    out.finish();
}

} // namespace vantel::media
