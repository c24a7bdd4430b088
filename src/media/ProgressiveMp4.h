#pragma once

// The front of a progressive MP4 made from a cut: ftyp, a moov with every track's sample tables
// and edit list, and the mdat header; the mdat payload is the cut's sample bytes in the order
// of `payload()`, to be copied from the segment files. Tables and edit lists are written as the
// FFmpeg mp4 muxer writes them for the same packets, so the clip reads back as the pass-through
// copy does. Plain data; no I/O.

#include "ClipCut.h"

#include <cstdint>
#include <vector>

namespace vantel::media {

class BoxWriter;

class ProgressiveMp4 {
public:
    // A contiguous stretch of one segment file that goes into the mdat as it is.
    struct Piece {
        uint32_t file = 0;
        uint64_t offset = 0;
        uint64_t length = 0;
    };

    explicit ProgressiveMp4(const ClipCut& cut);

    // ftyp, moov and the mdat header: the file's first bytes.
    const std::vector<uint8_t>& header() const { return m_header; }
    // What follows the header, in file order.
    const std::vector<Piece>& payload() const { return m_pieces; }
    uint64_t payloadSize() const { return m_payloadSize; }

private:
    struct Chunk {
        size_t track = 0;
        size_t firstSample = 0;
        size_t count = 0;
        uint64_t position = 0; // within the payload
    };

    struct OffsetPatch {
        size_t at = 0;         // where a chunk offset goes in the header
        uint64_t position = 0; // the chunk's place in the payload
    };

    void layOut();
    std::vector<uint8_t> buildHeader(bool wideOffsets) const;
    void writeTrack(BoxWriter& w, size_t track, bool wideOffsets,
                    std::vector<OffsetPatch>& patches) const;
    void writeChunks(BoxWriter& w, size_t track, bool wideOffsets,
                     std::vector<OffsetPatch>& patches) const;

    const ClipCut& m_cut;
    std::vector<Chunk> m_chunks; // payload order
    std::vector<Piece> m_pieces;
    uint64_t m_payloadSize = 0;
    std::vector<uint8_t> m_header;
};

} // namespace vantel::media
