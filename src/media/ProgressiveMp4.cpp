#include "ProgressiveMp4.h"

#include "MediaError.h"
#include "Mp4Box.h"

extern "C" {
#include <libavutil/mathematics.h>
}

#include <algorithm>
#include <cstring>
#include <limits>
#include <tuple>

namespace vantel::media {

// Big-endian box output into a growing buffer.
class BoxWriter {
public:
    explicit BoxWriter(std::vector<uint8_t>& out)
        : m_out(out) {}

    size_t begin(const char* type) {
        const size_t at = m_out.size();
        u32(0);
        m_out.insert(m_out.end(), type, type + 4);
        return at;
    }
    void end(size_t at) {
        const uint64_t size = m_out.size() - at;
        for (int i = 0; i < 4; ++i)
            m_out[at + i] = uint8_t(size >> (24 - 8 * i));
    }
    void fullBox(uint8_t version, uint32_t flags) {
        u8(version);
        m_out.push_back(uint8_t(flags >> 16));
        m_out.push_back(uint8_t(flags >> 8));
        m_out.push_back(uint8_t(flags));
    }
    void u8(uint8_t v) { m_out.push_back(v); }
    void u16(uint16_t v) {
        u8(uint8_t(v >> 8));
        u8(uint8_t(v));
    }
    void u32(uint32_t v) {
        u16(uint16_t(v >> 16));
        u16(uint16_t(v));
    }
    void u64(uint64_t v) {
        u32(uint32_t(v >> 32));
        u32(uint32_t(v));
    }
    void bytes(std::span<const uint8_t> b) { m_out.insert(m_out.end(), b.begin(), b.end()); }
    void type(const char* name) { m_out.insert(m_out.end(), name, name + 4); }
    size_t size() const { return m_out.size(); }
    void zeros(size_t n) { m_out.insert(m_out.end(), n, 0); }

private:
    std::vector<uint8_t>& m_out;
};

namespace {

constexpr int64_t kMovieTimescale = 1000;

// a * b / c rounded towards +infinity or -infinity, as the muxer rounds.
int64_t scaleUp(int64_t a, int64_t b, int64_t c) {
    return av_rescale_rnd(a, b, c, AV_ROUND_UP);
}
int64_t scaleDown(int64_t a, int64_t b, int64_t c) {
    return av_rescale_rnd(a, b, c, AV_ROUND_DOWN);
}

// The timing facts the muxer keeps per track.
struct TrackTimes {
    int64_t startDts = 0;
    int64_t startCts = 0;
    int64_t endPts = 0;
    bool hasCts = false;
};

TrackTimes timesOf(const CutTrack& track) {
    TrackTimes t;
    if (track.samples.empty())
        return t;
    t.startDts = track.samples.front().dts;
    t.startCts = track.samples.front().cts;
    t.endPts = std::numeric_limits<int64_t>::min();
    for (const CutSample& s : track.samples) {
        t.endPts = std::max(t.endPts, s.dts + s.cts + s.duration);
        t.hasCts |= s.cts != 0;
    }
    return t;
}

// Each sample lasts until the next one decodes; the last one its own duration.
std::vector<int64_t> sampleDurations(const CutTrack& track) {
    const auto& s = track.samples;
    std::vector<int64_t> durations(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        durations[i] = i + 1 < s.size() ? s[i + 1].dts - s[i].dts : s[i].duration;
        if (durations[i] < 0 || durations[i] > std::numeric_limits<int32_t>::max())
            damaged("decode times out of order");
    }
    return durations;
}

// The header's "seconds since 1904" and matrix fields stay as the segments had them; only the
// durations are new. A version 0 header is widened when the duration needs it.
void writeTimedHeader(BoxWriter& w, const char* type, std::span<const uint8_t> old, size_t idBytes,
                      int64_t duration) {
    ByteReader in(old);
    const uint8_t oldVersion = in.u8();
    const uint32_t flags = in.u24();
    const uint64_t created = oldVersion == 1 ? in.u64() : in.u32();
    const uint64_t modified = oldVersion == 1 ? in.u64() : in.u32();
    std::vector<uint8_t> id(idBytes);
    for (auto& b : id)
        b = in.u8();
    in.skip(oldVersion == 1 ? 8 : 4);
    const size_t tailBytes = in.remaining();
    const auto tail = old.subspan(old.size() - tailBytes);
    const uint8_t version = duration >= std::numeric_limits<int32_t>::max() ? 1 : 0;
    const size_t at = w.begin(type);
    w.fullBox(version, flags);
    version == 1 ? w.u64(created) : w.u32(uint32_t(created));
    version == 1 ? w.u64(modified) : w.u32(uint32_t(modified));
    w.bytes(id);
    version == 1 ? w.u64(uint64_t(duration)) : w.u32(uint32_t(duration));
    w.bytes(tail);
    w.end(at);
}

void writeEditList(BoxWriter& w, const CutTrack& track, const TrackTimes& t) {
    const int64_t start = t.startDts + t.startCts;
    int64_t duration = scaleUp(t.endPts - start, kMovieTimescale, track.timescale);
    const int64_t delay = scaleDown(start, kMovieTimescale, track.timescale);
    const bool wide = duration >= std::numeric_limits<int32_t>::max() ||
                      delay >= std::numeric_limits<int32_t>::max();
    int64_t mediaTime = t.startCts;
    if (delay <= 0) {
        mediaTime = -std::min<int64_t>(t.startDts, 0);
        duration += delay;
    }
    auto entry = [&](int64_t length, int64_t time) {
        wide ? w.u64(uint64_t(length)) : w.u32(uint32_t(length));
        wide ? w.u64(uint64_t(time)) : w.u32(uint32_t(time));
        w.u32(0x00010000); // rate 1.0
    };
    const size_t edts = w.begin("edts");
    const size_t elst = w.begin("elst");
    w.fullBox(wide ? 1 : 0, 0);
    w.u32(delay > 0 ? 2 : 1);
    if (delay > 0)
        entry(delay, -1); // an empty edit shows nothing until the track starts
    entry(duration, mediaTime);
    w.end(elst);
    w.end(edts);
}

template <typename Value, typename Write>
void writeRuns(BoxWriter& w, const std::vector<Value>& values, Write write) {
    std::vector<std::pair<uint32_t, Value>> runs;
    for (const Value& v : values) {
        if (runs.empty() || runs.back().second != v)
            runs.push_back({0, v});
        ++runs.back().first;
    }
    w.u32(uint32_t(runs.size()));
    for (const auto& [count, v] : runs) {
        w.u32(count);
        write(v);
    }
}

void writeFileType(BoxWriter& w, const ClipCut& cut) {
    const size_t ftyp = w.begin("ftyp");
    w.type("isom");
    w.u32(0x200);
    w.type("isom");
    w.type("iso2");
    if (std::any_of(cut.tracks.begin(), cut.tracks.end(),
                    [](const CutTrack& t) { return t.source->sampleEntry == fourcc("avc1"); }))
        w.type("avc1");
    w.type("mp41");
    w.end(ftyp);
}

// The longest track's shown length, in the movie's timescale.
int64_t movieDuration(const ClipCut& cut) {
    int64_t duration = 0;
    for (const CutTrack& track : cut.tracks)
        if (!track.samples.empty())
            duration = std::max(duration,
                                scaleUp(timesOf(track).endPts, kMovieTimescale, track.timescale));
    return duration;
}

void writeMovieHeader(BoxWriter& w, const ClipCut& cut) {
    const int64_t duration = movieDuration(cut);
    uint32_t nextTrackId = 1;
    for (const CutTrack& track : cut.tracks)
        nextTrackId = std::max(nextTrackId, track.source->id + 1);
    const bool wide = duration >= std::numeric_limits<uint32_t>::max();
    const size_t mvhd = w.begin("mvhd");
    w.fullBox(wide ? 1 : 0, 0);
    w.zeros(wide ? 16 : 8); // creation and modification time
    w.u32(kMovieTimescale);
    wide ? w.u64(uint64_t(duration)) : w.u32(uint32_t(duration));
    w.u32(0x00010000); // rate 1.0
    w.u16(0x0100);     // volume 1.0
    w.zeros(10);
    for (uint32_t m : {0x10000u, 0u, 0u, 0u, 0x10000u, 0u, 0u, 0u, 0x40000000u})
        w.u32(m); // identity matrix
    w.zeros(24);
    w.u32(nextTrackId);
    w.end(mvhd);
}

void writeTimeToSample(BoxWriter& w, const CutTrack& track) {
    const size_t stts = w.begin("stts");
    w.fullBox(0, 0);
    writeRuns(w, sampleDurations(track), [&](int64_t d) { w.u32(uint32_t(d)); });
    w.end(stts);
}

// Only where some samples are not key frames; without the box every sample is one.
void writeSyncSamples(BoxWriter& w, const CutTrack& track) {
    std::vector<uint32_t> keys;
    for (size_t i = 0; i < track.samples.size(); ++i)
        if (track.samples[i].key)
            keys.push_back(uint32_t(i + 1));
    if (keys.empty() || keys.size() == track.samples.size())
        return;
    const size_t stss = w.begin("stss");
    w.fullBox(0, 0);
    w.u32(uint32_t(keys.size()));
    for (uint32_t k : keys)
        w.u32(k);
    w.end(stss);
}

void writeCompositionOffsets(BoxWriter& w, const CutTrack& track) {
    std::vector<int64_t> offsets;
    for (const CutSample& s : track.samples)
        offsets.push_back(s.cts);
    const size_t ctts = w.begin("ctts");
    w.fullBox(0, 0);
    writeRuns(w, offsets, [&](int64_t c) { w.u32(uint32_t(int32_t(c))); });
    w.end(ctts);
}

void writeSampleSizes(BoxWriter& w, const CutTrack& track) {
    const size_t stsz = w.begin("stsz");
    w.fullBox(0, 0);
    w.u32(0); // sizes differ
    w.u32(uint32_t(track.samples.size()));
    for (const CutSample& s : track.samples)
        w.u32(s.size);
    w.end(stsz);
}

// Every AAC frame needs the one before it to decode fully: a roll distance of -1 for all.
void writeAacRoll(BoxWriter& w, size_t samples) {
    const size_t sgpd = w.begin("sgpd");
    w.fullBox(1, 0);
    w.type("roll");
    w.u32(2); // entry length
    w.u32(1);
    w.u16(uint16_t(-1));
    w.end(sgpd);
    const size_t sbgp = w.begin("sbgp");
    w.fullBox(0, 0);
    w.type("roll");
    w.u32(1);
    w.u32(uint32_t(samples));
    w.u32(1);
    w.end(sbgp);
}

} // namespace

ProgressiveMp4::ProgressiveMp4(const ClipCut& cut)
    : m_cut(cut) {
    layOut();
    // Alignment adds less than a block before each piece: a bound that decides the field widths.
    uint64_t bound = 0;
    for (const Piece& piece : m_pieces)
        bound += piece.length + kBlock;
    const bool wideMdat = bound + 16 > std::numeric_limits<uint32_t>::max();
    std::vector<OffsetPatch> patches;
    m_header = buildHeader(false, wideMdat, patches);
    const bool wideOffsets = m_header.size() + bound > std::numeric_limits<uint32_t>::max();
    if (wideOffsets) {
        patches.clear();
        m_header = buildHeader(true, wideMdat, patches);
    }
    place(m_header.size());
    patchOffsets(patches, wideOffsets, wideMdat);
}

double ProgressiveMp4::duration() const {
    return double(movieDuration(m_cut)) / double(kMovieTimescale);
}

// Samples go into the mdat in the order they lie in the segments, so the payload is the
// segments' own media bytes, copied in long contiguous pieces.
void ProgressiveMp4::layOut() {
    std::vector<std::tuple<uint32_t, uint64_t, size_t, size_t>> order; // file, offset, track, i
    for (size_t t = 0; t < m_cut.tracks.size(); ++t)
        for (size_t i = 0; i < m_cut.tracks[t].samples.size(); ++i) {
            const CutSample& s = m_cut.tracks[t].samples[i];
            order.emplace_back(s.file, s.offset, t, i);
        }
    std::sort(order.begin(), order.end());
    uint32_t lastFile = 0;
    uint64_t lastEnd = 0;
    for (const auto& [file, offset, t, i] : order) {
        const uint32_t size = m_cut.tracks[t].samples[i].size;
        addToPieces(file, offset, size);
        const bool follows = m_chunks.size() > 0 && file == lastFile && offset == lastEnd;
        const Chunk* open = m_chunks.empty() ? nullptr : &m_chunks.back();
        if (follows && open->track == t && open->firstSample + open->count == i)
            ++m_chunks.back().count;
        else
            m_chunks.push_back({t, i, 1, m_pieces.size() - 1, offset});
        lastFile = file;
        lastEnd = offset + size;
    }
}

// Widens the sample's bytes to whole blocks (or the segment's end) and joins them to the last
// piece where the two meet or overlap.
void ProgressiveMp4::addToPieces(uint32_t file, uint64_t offset, uint64_t size) {
    const uint64_t fileSize = file < m_cut.fileSizes.size() ? m_cut.fileSizes[file] : 0;
    const uint64_t begin = offset / kBlock * kBlock;
    const uint64_t end =
        std::max(offset + size, std::min((offset + size + kBlock - 1) / kBlock * kBlock, fileSize));
    Piece* last = m_pieces.empty() ? nullptr : &m_pieces.back();
    if (last && last->file == file && begin <= last->offset + last->length) {
        last->length = std::max(last->offset + last->length, end) - last->offset;
        return;
    }
    m_pieces.push_back({file, begin, end - begin, 0});
}

// Gives each piece its place in the clip, at the same offset within a block as in its segment.
void ProgressiveMp4::place(uint64_t from) {
    uint64_t cursor = from;
    for (Piece& piece : m_pieces) {
        piece.at = cursor + (piece.offset % kBlock + kBlock - cursor % kBlock) % kBlock;
        cursor = piece.at + piece.length;
    }
    m_size = cursor;
}

void ProgressiveMp4::patchOffsets(const std::vector<OffsetPatch>& patches, bool wideOffsets,
                                  bool wideMdat) {
    auto put = [this](size_t at, uint64_t value, int width) {
        for (int i = 0; i < width; ++i)
            m_header[at + i] = uint8_t(value >> (8 * (width - 1 - i)));
    };
    for (const OffsetPatch& p : patches) {
        const Chunk& chunk = m_chunks[p.chunk];
        const Piece& piece = m_pieces[chunk.piece];
        put(p.at, piece.at + (chunk.offset - piece.offset), wideOffsets ? 8 : 4);
    }
    const size_t mdat = m_header.size() - (wideMdat ? 16 : 8);
    const uint64_t mdatSize = m_size - mdat;
    if (wideMdat)
        put(mdat + 8, mdatSize, 8);
    else
        put(mdat, mdatSize, 4);
}

std::vector<uint8_t> ProgressiveMp4::buildHeader(bool wideOffsets, bool wideMdat,
                                                 std::vector<OffsetPatch>& patches) const {
    std::vector<uint8_t> out;
    BoxWriter w(out);
    writeFileType(w, m_cut);
    const size_t moov = w.begin("moov");
    writeMovieHeader(w, m_cut);
    for (size_t t = 0; t < m_cut.tracks.size(); ++t)
        writeTrack(w, t, wideOffsets, patches);
    w.end(moov);
    // The mdat's size is filled in once the pieces have their places.
    if (wideMdat) {
        w.u32(1);
        w.type("mdat");
        w.u64(0);
    } else {
        w.u32(0);
        w.type("mdat");
    }
    return out;
}

void ProgressiveMp4::writeTrack(BoxWriter& w, size_t t, bool wideOffsets,
                                std::vector<OffsetPatch>& patches) const {
    const CutTrack& track = m_cut.tracks[t];
    const FragmentTrack& src = *track.source;
    const TrackTimes times = timesOf(track);
    const bool empty = track.samples.empty();
    const size_t trak = w.begin("trak");
    writeTimedHeader(w, "tkhd", src.tkhd, 8,
                     empty ? 0 : scaleUp(times.endPts, kMovieTimescale, track.timescale));
    if (!empty)
        writeEditList(w, track, times);
    const size_t mdia = w.begin("mdia");
    writeTimedHeader(w, "mdhd", src.mdhd, 4,
                     empty ? 0 : times.endPts - (times.startDts + times.startCts));
    w.bytes(src.hdlr);
    const size_t minf = w.begin("minf");
    w.bytes(src.mediaHeader);
    w.bytes(src.dinf);
    const size_t stbl = w.begin("stbl");
    w.bytes(src.stsd);
    writeTimeToSample(w, track);
    if (src.kind == FragmentTrack::Kind::video)
        writeSyncSamples(w, track);
    if (times.hasCts)
        writeCompositionOffsets(w, track);
    writeChunks(w, t, wideOffsets, patches);
    writeSampleSizes(w, track);
    if (src.sampleEntry == fourcc("mp4a") && !empty)
        writeAacRoll(w, track.samples.size());
    w.end(stbl);
    w.end(minf);
    w.end(mdia);
    w.end(trak);
}

void ProgressiveMp4::writeChunks(BoxWriter& w, size_t t, bool wideOffsets,
                                 std::vector<OffsetPatch>& patches) const {
    std::vector<size_t> chunks;
    for (size_t c = 0; c < m_chunks.size(); ++c)
        if (m_chunks[c].track == t)
            chunks.push_back(c);
    std::vector<std::pair<uint32_t, uint32_t>> runs; // first chunk, samples per chunk
    for (size_t c = 0; c < chunks.size(); ++c)
        if (runs.empty() || runs.back().second != m_chunks[chunks[c]].count)
            runs.push_back({uint32_t(c + 1), uint32_t(m_chunks[chunks[c]].count)});
    const size_t stsc = w.begin("stsc");
    w.fullBox(0, 0);
    w.u32(uint32_t(runs.size()));
    for (const auto& [first, count] : runs) {
        w.u32(first);
        w.u32(count);
        w.u32(1); // sample description
    }
    w.end(stsc);

    const size_t stco = w.begin(wideOffsets ? "co64" : "stco");
    w.fullBox(0, 0);
    w.u32(uint32_t(chunks.size()));
    for (size_t c : chunks) {
        patches.push_back({w.size(), c});
        wideOffsets ? w.u64(0) : w.u32(0);
    }
    w.end(stco);
}

} // namespace vantel::media
