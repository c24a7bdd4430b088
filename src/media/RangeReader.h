#pragma once

// Reads the packets of a time range from an open input, for remuxing or decoding.
//
// Reading starts at the key frame before the range start (the demuxer seeks all streams there),
// so frames needed to decode the start come along. Every delivered packet's times are shifted so
// that the range start is zero: packets before it carry negative times, which the mp4 muxer
// turns into an edit list. A packet is delivered when it is shown before the range end, and one
// that lasts past the end is shortened to end there, so every edit list ends exactly at the
// range end too.
//
// Not thread-safe: one reader per input, used from one thread.

#include "FfmpegPtr.h"

#include <vector>

namespace vantel::media {

class RangeReader {
public:
    // `fmt` is borrowed and must outlive the reader; `streams` are the indexes to deliver.
    // `end` may be infinity. Seeks at once; throws MediaError(read) when the seek fails.
    RangeReader(AVFormatContext* fmt, const std::vector<int>& streams, double start, double end);

    // Fills `pkt` (in its stream's time base) with the next packet of the range. False when
    // every stream has passed the range end or the file ends. Throws MediaError(read) on a read
    // error or a packet the demuxer reports as corrupt (e.g. a truncated file).
    bool next(AVPacket* pkt);

private:
    struct Track {
        int index = 0;
        bool video = false;
        bool finished = false;
        int64_t startTs = 0;
        int64_t endTs = 0; // INT64_MAX when the range is open-ended
    };

    void seekTo(double start);
    Track* trackOf(int streamIndex);
    bool allFinished() const;
    bool admit(Track& track, AVPacket* pkt);

    AVFormatContext* m_fmt;
    std::vector<Track> m_tracks;
};

} // namespace vantel::media
