#pragma once

// The fragmented-MP4 muxer of the segmenting writer. It writes through a custom I/O context into
// memory: the header becomes the initialisation segment, and each cut() writes the queued packets
// that decode before the cut point, in decode order across tracks, and closes one moof+mdat
// fragment (with its base decode time, relative to its own moof). The muxer is never allowed to
// interleave by itself, because it would hold packets back across the cut.
//
// Thread: used by one thread at a time. Errors are thrown as MediaError (openOutput while
// setting up, write afterwards).

#include "FfmpegPtr.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vantel::media {

class FragmentMuxer {
public:
    struct Fragment {
        std::vector<uint8_t> bytes;
        // Earliest video presentation time and summed video packet durations, in the video
        // stream's time base; absent when the fragment holds no video.
        std::optional<int64_t> videoStart;
        int64_t videoDuration = 0;
    };

    FragmentMuxer();

    // Adds a stream with the encoder's parameters; returns its index. `language` may be null.
    // Stream 0 must be the video stream.
    int addStream(const AVCodecContext& encoder, const char* language, uint32_t codecTag = 0);
    // Writes the header and returns the initialisation segment.
    std::vector<uint8_t> writeHeader();

    // Keeps a packet (time-stamped in `timeBase`) for a later cut.
    void queue(PacketPtr packet, int stream, AVRational timeBase);
    // Writes every queued packet that decodes before `cutTicks` (in `cutBase`) and closes the
    // fragment. Returns an empty fragment when nothing was queued before the cut.
    Fragment cut(int64_t cutTicks, AVRational cutBase);
    // Writes everything still queued as the last fragment.
    Fragment cutAll();
    // Ends the muxer. Trailer bytes are discarded: they would only be an index of absolute
    // offsets that no joined file can use.
    void close();

    AVRational streamTimeBase(int stream) const;

private:
    struct Queued {
        PacketPtr packet;
        int stream = 0;
    };

    static int onWrite(void* opaque, uint8_t* data, int size);
    Fragment writeFragment(std::vector<Queued> packets);
    std::vector<uint8_t> takeOutput();

    OutputContextPtr m_ctx;
    IOContextPtr m_io;
    std::vector<Queued> m_queue; // in arrival order; per stream also in decode order
    std::vector<uint8_t> m_output;
    bool m_headerWritten = false;
    bool m_closed = false;
};

} // namespace vantel::media
