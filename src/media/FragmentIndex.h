#pragma once

// What our own fragmented MP4 output says about its samples: the tracks of the initialisation
// segment (with the boxes a progressive file carries over unchanged) and, per media segment
// file, every sample's decode time, composition offset, duration, size, key flag and where its
// bytes lie in that file. Times follow the FFmpeg demuxer's reading of the joined segments, so
// a cut made from this index matches one made by demuxing the joined file.
//
// Several runs of the encoder can be indexed one after the other (startRun()): each starts its
// own timeline at zero, and its samples are moved to follow the samples before them.
//
// Hostile-input safe: sizes, counts and offsets are checked against the bytes and the file
// before use, and the samples of all segments together are capped (kMaxSamples), so no input
// makes it allocate without bound; damage ends in MediaError(openInput). Not thread-safe; one
// thread builds and reads.

#include <cstdint>
#include <optional>
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
    int64_t shift = 0;                   // added to the decode times of the current run
    bool joining = false;                // the current run's shift is not yet known
};

class FragmentIndex {
public:
    // Far more than five minutes of our segments at any frame rate: about 150 samples a second.
    static constexpr uint64_t kMaxSamples = 1u << 20;

    // Reads the tracks of an initialisation segment. Throws MediaError(openInput).
    explicit FragmentIndex(std::span<const uint8_t> initSegment);

    // Adds the samples of every fragment in the open segment file `fd`; `file` is the number the
    // samples carry. Throws MediaError(openInput) for damage, MediaError(read) when the file
    // cannot be read.
    void addSegment(int fd, uint32_t file);
    // The same for a segment held in memory (its bytes are the "file").
    void addSegment(std::span<const uint8_t> segment, uint32_t file);

    // The segments added from now on belong to a new run of the encoder: its samples follow those
    // indexed so far, every track moved by the same time (the video's end), or further where a
    // track would otherwise go back in time.
    void startRun();
    // Whether the samples of another run's segments read the same with either's headers: the same
    // tracks in the same order with the same kinds, time scales, sample descriptions and fragment
    // defaults.
    bool sameTracks(const FragmentIndex& other) const;

    const std::vector<FragmentTrack>& tracks() const { return m_tracks; }
    // The size of each segment added, by its number.
    const std::vector<uint64_t>& fileSizes() const { return m_fileSizes; }

private:
    void readTrack(std::span<const uint8_t> trak);
    void readDefaults(std::span<const uint8_t> mvex);
    void readFragment(std::span<const uint8_t> moof, uint64_t moofOffset, uint64_t fileSize,
                      uint32_t file);
    FragmentTrack& trackWithId(uint32_t id);
    int64_t runDecodeTime(FragmentTrack& track, int64_t fragmentTime);

    void noteFile(uint32_t file, uint64_t size);

    std::vector<FragmentTrack> m_tracks;
    std::vector<uint64_t> m_fileSizes;
    uint64_t m_sampleCount = 0;
    double m_joinAt = 0.0;             // seconds: where the current run continues
    std::optional<double> m_runOrigin; // seconds: the current run's first fragment time
};

} // namespace vantel::media
