#include "RangeReader.h"

#include "MediaError.h"
#include "MediaInput.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace vantel::media {

RangeReader::RangeReader(AVFormatContext* fmt, const std::vector<int>& streams, double start,
                         double end)
    : m_fmt(fmt) {
    for (int index : streams) {
        const AVStream* st = fmt->streams[index];
        Track t;
        t.index = index;
        t.video = st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO;
        t.startTs = fromSeconds(start, st->time_base);
        t.endTs = std::isfinite(end) ? fromSeconds(end, st->time_base)
                                     : std::numeric_limits<int64_t>::max();
        m_tracks.push_back(t);
    }
    for (unsigned i = 0; i < fmt->nb_streams; ++i)
        fmt->streams[i]->discard = trackOf(int(i)) ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    seekTo(start);
}

void RangeReader::seekTo(double start) {
    if (m_tracks.empty())
        return;
    auto lead = std::find_if(m_tracks.begin(), m_tracks.end(), [](auto& t) { return t.video; });
    const Track& t = lead != m_tracks.end() ? *lead : m_tracks.front();
    const AVStream* st = m_fmt->streams[t.index];
    // Right after opening, the demuxer stands at the first packet; a range starting there needs
    // no seek (and a backward seek to before the first key frame would fail).
    if (st->start_time != AV_NOPTS_VALUE && toSeconds(st->start_time, st->time_base) >= start)
        return;
    if (int err = av_seek_frame(m_fmt, t.index, t.startTs, AVSEEK_FLAG_BACKWARD); err < 0)
        throw MediaError(MediaError::Kind::read, "cannot seek to the range start: " + averror(err));
}

RangeReader::Track* RangeReader::trackOf(int streamIndex) {
    for (Track& t : m_tracks)
        if (t.index == streamIndex)
            return &t;
    return nullptr;
}

bool RangeReader::allFinished() const {
    return std::all_of(m_tracks.begin(), m_tracks.end(), [](auto& t) { return t.finished; });
}

bool RangeReader::admit(Track& t, AVPacket* pkt) {
    if (pkt->pts == AV_NOPTS_VALUE)
        pkt->pts = pkt->dts;
    if (pkt->pts == AV_NOPTS_VALUE || t.finished)
        return false;
    if (t.video) {
        // Packets come in decode order: once decoding passes the end, nothing later is shown
        // before it.
        const int64_t order = pkt->dts != AV_NOPTS_VALUE ? pkt->dts : pkt->pts;
        if (order >= t.endTs)
            t.finished = true;
    } else if (pkt->pts >= t.endTs) {
        t.finished = true;
    }
    if (pkt->pts >= t.endTs)
        return false;
    // The edit list ends where the last sample ends: shorten it to the range end.
    if (pkt->duration > 0 && pkt->pts + pkt->duration > t.endTs)
        pkt->duration = t.endTs - pkt->pts;
    return true;
}

bool RangeReader::next(AVPacket* pkt) {
    while (!allFinished()) {
        av_packet_unref(pkt);
        const int err = av_read_frame(m_fmt, pkt);
        if (err == AVERROR_EOF)
            return false;
        if (err < 0)
            throw MediaError(MediaError::Kind::read, "cannot read the source: " + averror(err));
        if (pkt->flags & AV_PKT_FLAG_CORRUPT)
            throw MediaError(MediaError::Kind::read, "the source holds a damaged packet");
        Track* t = trackOf(pkt->stream_index);
        if (!t || !admit(*t, pkt))
            continue;
        pkt->pts -= t->startTs;
        if (pkt->dts != AV_NOPTS_VALUE)
            pkt->dts -= t->startTs;
        pkt->flags &= ~AV_PKT_FLAG_DISCARD;
        return true;
    }
    av_packet_unref(pkt);
    return false;
}

} // namespace vantel::media
