#pragma once

// The layout of a progressive MP4 made from a cut: ftyp, a moov with every track's sample tables
// and edit list, and the mdat header, then the mdat payload: stretches of the segment files
// copied as they are (`payload()`). Tables and edit lists are written as the FFmpeg mp4 muxer
// writes them for the same packets, so the clip reads back as the pass-through copy does.
//
// Each stretch keeps its place within a file-system block and runs to a block boundary or to the
// end of its segment, so a copy-on-write file system (btrfs, XFS) can share the segment's blocks
// instead of copying them. The few bytes this adds around the samples are never referenced; the
// space between stretches is left as a hole. Plain data; no I/O.

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
        uint64_t offset = 0; // in the segment file
        uint64_t length = 0;
        uint64_t at = 0; // in the clip
    };
    // The block size stretches are aligned to.
    static constexpr uint64_t kBlock = 4096;

    explicit ProgressiveMp4(const ClipCut& cut);

    // ftyp, moov and the mdat header: the file's first bytes.
    const std::vector<uint8_t>& header() const { return m_header; }
    // What follows the header, in file order.
    const std::vector<Piece>& payload() const { return m_pieces; }
    // The clip's size: where the last piece ends.
    uint64_t size() const { return m_size; }
    // The clip's length in seconds, as its movie header gives it.
    double duration() const;

private:
    struct Chunk {
        size_t track = 0;
        size_t firstSample = 0;
        size_t count = 0;
        size_t piece = 0;    // the stretch that holds it
        uint64_t offset = 0; // of its first sample in the segment file
    };

    struct OffsetPatch {
        size_t at = 0;    // where a chunk offset goes in the header
        size_t chunk = 0; // which chunk's
    };

    void layOut();
    void addToPieces(uint32_t file, uint64_t offset, uint64_t size);
    void place(uint64_t from);
    std::vector<uint8_t> buildHeader(bool wideOffsets, bool wideMdat,
                                     std::vector<OffsetPatch>& patches) const;
    void patchOffsets(const std::vector<OffsetPatch>& patches, bool wideOffsets, bool wideMdat);
    void writeTrack(BoxWriter& w, size_t track, bool wideOffsets,
                    std::vector<OffsetPatch>& patches) const;
    void writeChunks(BoxWriter& w, size_t track, bool wideOffsets,
                     std::vector<OffsetPatch>& patches) const;

    const ClipCut& m_cut;
    std::vector<Chunk> m_chunks; // payload order
    std::vector<Piece> m_pieces;
    uint64_t m_size = 0;
    std::vector<uint8_t> m_header;
};

} // namespace vantel::media
