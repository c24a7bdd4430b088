#pragma once

// What our own fragmented MP4 output says about its samples: the tracks of the initialisation
// segment (with the boxes a progressive file carries over unchanged) and, per media segment
// file, every sample's decode time, composition offset, duration, size, key flag and where its
// bytes lie in that file. Times follow the FFmpeg demuxer's reading of the joined segments, so
// a cut made from this index matches one made by demuxing the joined file.
//
// Hostile-input safe: sizes, counts and offsets are checked against the bytes and the file
// before use; damage ends in MediaError(openInput). Not thread-safe; one thread builds and reads.

#include <cstdint>
#include <span>
#include <vector>

namespace vantel::media {

struct FragmentSample {
    int64_t dts = 0; // in the track's timescale
    int32_t cto = 0; // composition offset: pts = dts + cto
    uint32_t duration = 0;
    uint32_t size = 0;
    bool key = false;
    uint32_t file = 0;   // which segment file holds the bytes
    uint64_t offset = 0; // where they start in it
    int64_t pts() const { return dts + cto; }
};

struct FragmentTrack {
    enum class Kind { video, audio, other };
    uint32_t id = 0;
    uint32_t timescale = 0;
    Kind kind = Kind::other;
    uint32_t sampleEntry = 0; // the first sample description's type: "avc1", "hvc1", "mp4a", ...
    // What a progressive file carries over from the initialisation segment: the payloads of the
    // track and media headers, and whole hdlr, vmhd or smhd, dinf and stsd boxes.
    std::vector<uint8_t> tkhd, mdhd, hdlr, mediaHeader, dinf, stsd;
    uint32_t defaultDuration = 0; // from trex
    uint32_t defaultSize = 0;
    uint32_t defaultFlags = 0;
    std::vector<FragmentSample> samples; // decode order
    int64_t nextDts = 0;                 // where a fragment without a decode time continues
};

class FragmentIndex {
public:
    // Reads the tracks of an initialisation segment. Throws MediaError(openInput).
    explicit FragmentIndex(std::span<const uint8_t> initSegment);

    // Adds the samples of every fragment in the open segment file `fd`; `file` is the number the
    // samples carry. Throws MediaError(openInput) for damage, MediaError(read) when the file
    // cannot be read.
    void addSegment(int fd, uint32_t file);
    // The same for a segment held in memory (its bytes are the "file").
    void addSegment(std::span<const uint8_t> segment, uint32_t file);

    const std::vector<FragmentTrack>& tracks() const { return m_tracks; }
    // The size of each segment added, by its number.
    const std::vector<uint64_t>& fileSizes() const { return m_fileSizes; }

private:
    void readTrack(std::span<const uint8_t> trak);
    void readDefaults(std::span<const uint8_t> mvex);
    void readFragment(std::span<const uint8_t> moof, uint64_t moofOffset, uint64_t fileSize,
                      uint32_t file);
    FragmentTrack& trackWithId(uint32_t id);

    void noteFile(uint32_t file, uint64_t size);

    std::vector<FragmentTrack> m_tracks;
    std::vector<uint64_t> m_fileSizes;
};

} // namespace vantel::media
