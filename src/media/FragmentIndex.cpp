#include "FragmentIndex.h"

#include "MediaError.h"
#include "Mp4Box.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace vantel::media {

namespace {

// A moof of ours is a few kilobytes and a run of ours a second of samples; anything near these
// is not ours.
constexpr uint64_t kMaxMoofSize = 64u << 20;
constexpr uint32_t kMaxRunSamples = 1u << 20;

// tfhd flags
constexpr uint32_t kBaseDataOffset = 0x1;
constexpr uint32_t kSampleDescription = 0x2;
constexpr uint32_t kDefaultDuration = 0x8;
constexpr uint32_t kDefaultSize = 0x10;
constexpr uint32_t kDefaultFlags = 0x20;
constexpr uint32_t kBaseIsMoof = 0x20000;
// trun flags
constexpr uint32_t kDataOffset = 0x1;
constexpr uint32_t kFirstSampleFlags = 0x4;
constexpr uint32_t kSampleDuration = 0x100;
constexpr uint32_t kSampleSize = 0x200;
constexpr uint32_t kSampleFlags = 0x400;
constexpr uint32_t kSampleCto = 0x800;
// sample flags: depends on no other sample
constexpr uint32_t kDependsOnNothing = 0x02000000;

std::vector<uint8_t> copyOf(std::span<const uint8_t> bytes) {
    return {bytes.begin(), bytes.end()};
}

FragmentTrack::Kind kindOf(std::span<const uint8_t> hdlr) {
    ByteReader in(hdlr);
    in.skip(8); // version, flags, pre-defined
    const uint32_t handler = in.u32();
    if (handler == fourcc("vide"))
        return FragmentTrack::Kind::video;
    if (handler == fourcc("soun"))
        return FragmentTrack::Kind::audio;
    return FragmentTrack::Kind::other;
}

uint32_t timescaleOf(std::span<const uint8_t> mdhd) {
    ByteReader in(mdhd);
    const uint8_t version = in.u8();
    in.skip(3 + (version == 1 ? 16 : 8));
    const uint32_t timescale = in.u32();
    if (timescale == 0)
        damaged("a track without a timescale");
    return timescale;
}

uint32_t trackIdOf(std::span<const uint8_t> tkhd) {
    ByteReader in(tkhd);
    const uint8_t version = in.u8();
    in.skip(3 + (version == 1 ? 16 : 8));
    return in.u32();
}

// The sample tables of the initialisation segment must be empty: every sample lives in a
// fragment.
void requireEmptyTables(const std::vector<Box>& stbl) {
    const Box& stsz = requireBox(stbl, fourcc("stsz"), "no sample sizes");
    ByteReader in(stsz.payload);
    in.skip(8); // version, flags, sample size
    if (in.u32() != 0)
        damaged("samples outside the fragments");
}

struct TrafDefaults {
    uint32_t trackId = 0;
    uint32_t flags = 0;
    uint64_t base = 0;
    uint32_t duration = 0;
    uint32_t size = 0;
    uint32_t sampleFlags = 0;
};

TrafDefaults readTfhd(std::span<const uint8_t> tfhd, const FragmentTrack& track) {
    ByteReader in(tfhd);
    TrafDefaults d;
    in.skip(1);
    d.flags = in.u24();
    d.trackId = in.u32();
    if (d.flags & kBaseDataOffset)
        d.base = in.u64();
    if (d.flags & kSampleDescription)
        in.skip(4);
    d.duration = d.flags & kDefaultDuration ? in.u32() : track.defaultDuration;
    d.size = d.flags & kDefaultSize ? in.u32() : track.defaultSize;
    d.sampleFlags = d.flags & kDefaultFlags ? in.u32() : track.defaultFlags;
    return d;
}

int64_t readTfdt(std::span<const uint8_t> tfdt) {
    ByteReader in(tfdt);
    const uint8_t version = in.u8();
    in.skip(3);
    const uint64_t time = version == 1 ? in.u64() : in.u32();
    if (time > uint64_t(std::numeric_limits<int64_t>::max() / 2))
        damaged("a decode time out of range");
    return int64_t(time);
}

struct RunPlace {
    uint64_t fileSize = 0;
    uint32_t file = 0;
    uint64_t base = 0; // what a run's data offset counts from
    uint64_t next = 0; // where a run without a data offset starts
};

// The sample's key flag as the demuxer decides it.
bool keyOf(FragmentTrack::Kind kind, bool first, uint32_t runFlags, uint32_t sampleFlags) {
    return kind == FragmentTrack::Kind::audio ||
           (first && (runFlags & kFirstSampleFlags) && !(sampleFlags & 0xffff0000)) ||
           (sampleFlags & kDependsOnNothing);
}

void readTrun(std::span<const uint8_t> trun, const TrafDefaults& d, FragmentTrack& track,
              RunPlace& place, int64_t& dts, uint64_t& sampleCount) {
    ByteReader in(trun);
    in.skip(1);
    const uint32_t flags = in.u24();
    const uint32_t count = in.u32();
    uint64_t offset = place.next;
    if (flags & kDataOffset) {
        const int64_t at = int64_t(place.base) + int32_t(in.u32());
        if (at < 0)
            damaged("a run before the file start");
        offset = uint64_t(at);
    }
    const uint32_t firstFlags = flags & kFirstSampleFlags ? in.u32() : d.sampleFlags;
    const size_t entry =
        4 * std::popcount(flags & (kSampleDuration | kSampleSize | kSampleFlags | kSampleCto));
    in.require(count, entry);
    if (count > kMaxRunSamples)
        damaged("an oversized run");
    if (entry == 0 && count > place.fileSize / std::max<uint32_t>(1, d.size))
        damaged("more samples than bytes");
    if (count > FragmentIndex::kMaxSamples - sampleCount)
        damaged("more samples than a buffer holds");
    sampleCount += count;
    track.samples.reserve(track.samples.size() + count);
    for (uint32_t i = 0; i < count; ++i) {
        FragmentSample s;
        uint32_t sampleFlags = i == 0 ? firstFlags : d.sampleFlags;
        s.duration = flags & kSampleDuration ? in.u32() : d.duration;
        s.size = flags & kSampleSize ? in.u32() : d.size;
        if (flags & kSampleFlags)
            sampleFlags = in.u32();
        s.cto = flags & kSampleCto ? int32_t(in.u32()) : 0;
        s.key = keyOf(track.kind, i == 0, flags, sampleFlags);
        s.dts = dts;
        s.file = place.file;
        s.offset = offset;
        if (offset > place.fileSize || s.size > place.fileSize - offset)
            damaged("sample bytes beyond the file end");
        offset += s.size;
        dts += s.duration;
        if (dts > std::numeric_limits<int64_t>::max() / 2)
            damaged("a decode time out of range");
        track.samples.push_back(s);
    }
    place.next = offset;
}

} // namespace

FragmentIndex::FragmentIndex(std::span<const uint8_t> initSegment) {
    const std::vector<Box> top = childBoxes(initSegment);
    const std::vector<Box> moov = childBoxes(requireBox(top, fourcc("moov"), "no moov").payload);
    for (const Box& box : moov)
        if (box.type == fourcc("trak"))
            readTrack(box.payload);
    if (m_tracks.empty())
        damaged("no tracks");
    if (const Box* mvex = findBox(moov, fourcc("mvex")))
        readDefaults(mvex->payload);
}

void FragmentIndex::readTrack(std::span<const uint8_t> trak) {
    const std::vector<Box> boxes = childBoxes(trak);
    const std::vector<Box> mdia = childBoxes(requireBox(boxes, fourcc("mdia"), "no mdia").payload);
    const std::vector<Box> minf = childBoxes(requireBox(mdia, fourcc("minf"), "no minf").payload);
    const std::vector<Box> stbl = childBoxes(requireBox(minf, fourcc("stbl"), "no stbl").payload);
    FragmentTrack track;
    const Box& tkhd = requireBox(boxes, fourcc("tkhd"), "no tkhd");
    const Box& mdhd = requireBox(mdia, fourcc("mdhd"), "no mdhd");
    const Box& hdlr = requireBox(mdia, fourcc("hdlr"), "no hdlr");
    track.id = trackIdOf(tkhd.payload);
    track.timescale = timescaleOf(mdhd.payload);
    track.kind = kindOf(hdlr.payload);
    track.tkhd = copyOf(tkhd.payload);
    track.mdhd = copyOf(mdhd.payload);
    track.hdlr = copyOf(hdlr.whole);
    const Box* header =
        findBox(minf, track.kind == FragmentTrack::Kind::video ? fourcc("vmhd") : fourcc("smhd"));
    if (header)
        track.mediaHeader = copyOf(header->whole);
    if (const Box* dinf = findBox(minf, fourcc("dinf")))
        track.dinf = copyOf(dinf->whole);
    const Box& stsd = requireBox(stbl, fourcc("stsd"), "no sample descriptions");
    track.stsd = copyOf(stsd.whole);
    ByteReader entries(stsd.payload);
    entries.skip(12); // version, flags, entry count, first entry's size
    track.sampleEntry = entries.u32();
    requireEmptyTables(stbl);
    for (const FragmentTrack& other : m_tracks)
        if (other.id == track.id)
            damaged("two tracks with one id");
    m_tracks.push_back(std::move(track));
}

void FragmentIndex::readDefaults(std::span<const uint8_t> mvex) {
    for (const Box& box : childBoxes(mvex)) {
        if (box.type != fourcc("trex"))
            continue;
        ByteReader in(box.payload);
        in.skip(4);
        FragmentTrack& track = trackWithId(in.u32());
        in.skip(4); // sample description index
        track.defaultDuration = in.u32();
        track.defaultSize = in.u32();
        track.defaultFlags = in.u32();
    }
}

FragmentTrack& FragmentIndex::trackWithId(uint32_t id) {
    for (FragmentTrack& track : m_tracks)
        if (track.id == id)
            return track;
    damaged("a fragment of an unknown track");
}

void FragmentIndex::readFragment(std::span<const uint8_t> moof, uint64_t moofOffset,
                                 uint64_t fileSize, uint32_t file) {
    // Without a base of its own, a track fragment's data follows the previous one's.
    RunPlace place{fileSize, file, moofOffset, moofOffset};
    for (const Box& traf : childBoxes(moof)) {
        if (traf.type != fourcc("traf"))
            continue;
        const std::vector<Box> boxes = childBoxes(traf.payload);
        const Box& tfhd = requireBox(boxes, fourcc("tfhd"), "a fragment without tfhd");
        ByteReader peek(tfhd.payload);
        peek.skip(4);
        FragmentTrack& track = trackWithId(peek.u32());
        const TrafDefaults defaults = readTfhd(tfhd.payload, track);
        if (defaults.flags & kBaseDataOffset)
            place.base = std::min<uint64_t>(defaults.base, fileSize);
        else
            place.base = defaults.flags & kBaseIsMoof ? moofOffset : place.next;
        place.next = place.base;
        const Box* tfdt = findBox(boxes, fourcc("tfdt"));
        int64_t dts = tfdt ? runDecodeTime(track, readTfdt(tfdt->payload)) : track.nextDts;
        for (const Box& box : boxes)
            if (box.type == fourcc("trun"))
                readTrun(box.payload, defaults, track, place, dts, m_sampleCount);
        track.nextDts = dts;
    }
}

void FragmentIndex::startRun() {
    m_joinAt = 0.0;
    for (FragmentTrack& track : m_tracks) {
        if (track.kind == FragmentTrack::Kind::video && !track.samples.empty())
            m_joinAt = std::max(m_joinAt, double(track.nextDts) / track.timescale);
        track.joining = true;
    }
    m_runOrigin.reset();
}

// A fragment's decode time on the joined timeline. The run's first fragment fixes its origin;
// each track's first fragment of the run fixes that track's shift.
int64_t FragmentIndex::runDecodeTime(FragmentTrack& track, int64_t fragmentTime) {
    if (track.joining) {
        const double seconds = double(fragmentTime) / track.timescale;
        if (!m_runOrigin)
            m_runOrigin = seconds;
        const double shift = (m_joinAt - *m_runOrigin) * track.timescale;
        if (!(std::abs(shift) < double(std::numeric_limits<int64_t>::max() / 4)))
            damaged("a decode time out of range");
        track.shift = std::max<int64_t>(std::llround(shift), track.nextDts - fragmentTime);
        track.joining = false;
    }
    const int64_t dts = fragmentTime + track.shift;
    if (dts < 0 || dts > std::numeric_limits<int64_t>::max() / 2)
        damaged("a decode time out of range");
    return dts;
}

bool FragmentIndex::sameTracks(const FragmentIndex& other) const {
    if (m_tracks.size() != other.m_tracks.size())
        return false;
    for (size_t i = 0; i < m_tracks.size(); ++i) {
        const FragmentTrack& a = m_tracks[i];
        const FragmentTrack& b = other.m_tracks[i];
        if (a.id != b.id || a.kind != b.kind || a.timescale != b.timescale ||
            a.sampleEntry != b.sampleEntry || a.stsd != b.stsd ||
            a.defaultDuration != b.defaultDuration || a.defaultSize != b.defaultSize ||
            a.defaultFlags != b.defaultFlags)
            return false;
    }
    return true;
}

void FragmentIndex::noteFile(uint32_t file, uint64_t size) {
    if (file >= m_fileSizes.size())
        m_fileSizes.resize(size_t(file) + 1);
    m_fileSizes[file] = size;
}

void FragmentIndex::addSegment(std::span<const uint8_t> segment, uint32_t file) {
    noteFile(file, segment.size());
    for (const Box& box : childBoxes(segment)) {
        if (box.type != fourcc("moof"))
            continue;
        const uint64_t offset = uint64_t(box.whole.data() - segment.data());
        readFragment(box.payload, offset, segment.size(), file);
    }
}

namespace {

void readExactly(int fd, uint64_t offset, uint8_t* into, size_t count) {
    size_t got = 0;
    while (got < count) {
        const ssize_t n = ::pread(fd, into + got, count - got, off_t(offset + got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw MediaError(MediaError::Kind::read,
                             std::string("cannot read a segment: ") + std::strerror(errno));
        if (n == 0)
            damaged("a segment ends early");
        got += size_t(n);
    }
}

} // namespace

void FragmentIndex::addSegment(int fd, uint32_t file) {
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        throw MediaError(MediaError::Kind::read,
                         std::string("cannot read a segment: ") + std::strerror(errno));
    const uint64_t size = uint64_t(info.st_size);
    noteFile(file, size);
    std::vector<uint8_t> moof;
    for (uint64_t at = 0; at < size;) {
        uint8_t header[16] = {};
        const size_t headerBytes = size_t(std::min<uint64_t>(16, size - at));
        if (headerBytes < 8)
            damaged("trailing bytes after the last box");
        readExactly(fd, at, header, headerBytes);
        const BoxHeader box = readBoxHeader({header, headerBytes}, size - at);
        if (box.type == fourcc("moof")) {
            if (box.size > kMaxMoofSize)
                damaged("an oversized moof");
            moof.resize(size_t(box.size - box.headerSize));
            readExactly(fd, at + box.headerSize, moof.data(), moof.size());
            readFragment(moof, at, size, file);
        }
        at += box.size;
    }
}

} // namespace vantel::media
