#include "ClipCut.h"

#include "MediaError.h"

extern "C" {
#include <libavutil/mathematics.h>
}

#include <algorithm>
#include <cmath>
#include <limits>

namespace vantel::media {

namespace {

using Kind = FragmentTrack::Kind;

// The same conversions as the demuxing path, so both land on the same ticks.
int64_t ticksOf(double seconds, uint32_t timescale) {
    return int64_t(std::llround(seconds / (1.0 / double(timescale))));
}
double secondsOf(int64_t ticks, uint32_t timescale) {
    return double(ticks) * (1.0 / double(timescale));
}

// ticks * to / from, rounded to nearest with halves away from zero, as the demuxer's seek does.
int64_t rescale(int64_t ticks, uint32_t from, uint32_t to) {
    return av_rescale_rnd(ticks, to, from, AV_ROUND_NEAR_INF);
}

// The muxer gives a video track at least 10000 ticks a second.
uint32_t outputTimescale(const FragmentTrack& track) {
    uint32_t timescale = track.timescale;
    while (track.kind == Kind::video && timescale < 10000)
        timescale *= 2;
    return timescale;
}

struct Presented {
    double start = 0.0;
    double end = 0.0;
};

Presented presentedRange(const FragmentTrack& video) {
    Presented range{std::numeric_limits<double>::infinity(),
                    -std::numeric_limits<double>::infinity()};
    for (const FragmentSample& s : video.samples) {
        range.start = std::min(range.start, secondsOf(s.pts(), video.timescale));
        range.end = std::max(range.end, secondsOf(s.pts() + s.duration, video.timescale));
    }
    return range;
}

// Index of the last sample decoding at or before `ticks` (a key frame when `key`), the first
// sample when `ticks` lies before it all.
size_t seekBackward(const FragmentTrack& track, int64_t ticks, bool key) {
    const auto& samples = track.samples;
    size_t at = samples.size();
    for (size_t i = 0; i < samples.size() && samples[i].dts <= ticks; ++i)
        if (!key || samples[i].key)
            at = i;
    if (at == samples.size()) {
        if (ticks < samples.front().dts)
            return 0;
        throw MediaError(MediaError::Kind::read, "no key frame before the range start");
    }
    return at;
}

// Where each track starts reading: all at their first sample when the range starts with the
// video, else the video at the key frame before the start and the others at its time.
std::vector<size_t> readStarts(const std::vector<const FragmentTrack*>& tracks, double start,
                               double videoStart) {
    std::vector<size_t> starts(tracks.size(), 0);
    if (videoStart >= start)
        return starts;
    const FragmentTrack& video = *tracks.front();
    const size_t key = seekBackward(video, ticksOf(start, video.timescale), true);
    starts[0] = key;
    const int64_t keyDts = video.samples[key].dts;
    for (size_t t = 1; t < tracks.size(); ++t) {
        if (tracks[t]->samples.empty())
            continue;
        starts[t] =
            seekBackward(*tracks[t], rescale(keyDts, video.timescale, tracks[t]->timescale), false);
    }
    return starts;
}

CutTrack cutTrack(const FragmentTrack& track, size_t from, double start, double end) {
    CutTrack out{&track, outputTimescale(track), {}};
    const int64_t factor = out.timescale / track.timescale;
    if (!(std::max(std::abs(start), std::abs(end)) * double(out.timescale) < 1e18))
        throw MediaError(MediaError::Kind::openInput, "damaged segment: times out of range");
    const int64_t startTs = ticksOf(start, track.timescale);
    const int64_t endTs = ticksOf(end, track.timescale);
    for (size_t i = from; i < track.samples.size(); ++i) {
        const FragmentSample& s = track.samples[i];
        // Video comes in decode order: once decoding passes the end, nothing later shows before
        // it. Sound ends at its first sample at or past the end.
        const bool last = track.kind == Kind::video ? s.dts >= endTs : s.pts() >= endTs;
        if (s.pts() < endTs) {
            int64_t duration = s.duration;
            if (duration > 0 && s.pts() + duration > endTs)
                duration = endTs - s.pts();
            CutSample cut{
                0, int64_t(s.cto) * factor, duration * factor, s.size, s.key, s.file, s.offset};
            if (__builtin_mul_overflow(s.dts - startTs, factor, &cut.dts))
                throw MediaError(MediaError::Kind::openInput, "damaged segment: times overflow");
            out.samples.push_back(cut);
        }
        if (last)
            break;
    }
    return out;
}

bool showsVideo(const CutTrack& video) {
    return std::any_of(video.samples.begin(), video.samples.end(), [](const CutSample& s) {
        return s.dts + s.cts + std::max<int64_t>(1, s.duration) > 0;
    });
}

} // namespace

ClipCut cutNewest(const FragmentIndex& index, double seconds) {
    std::vector<const FragmentTrack*> tracks;
    for (const FragmentTrack& track : index.tracks())
        if (track.kind != Kind::other)
            tracks.push_back(&track);
    auto video = std::find_if(tracks.begin(), tracks.end(),
                              [](const FragmentTrack* t) { return t->kind == Kind::video; });
    if (video == tracks.end() || (*video)->samples.empty())
        throw MediaError(MediaError::Kind::noVideo, "the segments hold no video");
    std::rotate(tracks.begin(), video, video + 1); // the video leads the seek

    const Presented shown = presentedRange(*tracks.front());
    ClipCut cut;
    cut.fileSizes = index.fileSizes();
    cut.end = shown.end;
    cut.start = std::min(std::max(shown.start, shown.end - seconds), shown.end);
    if (!(cut.end > cut.start))
        throw MediaError(MediaError::Kind::read, "the range is empty");
    const std::vector<size_t> starts = readStarts(tracks, cut.start, shown.start);
    for (size_t t = 0; t < tracks.size(); ++t)
        cut.tracks.push_back(cutTrack(*tracks[t], starts[t], cut.start, cut.end));
    if (!showsVideo(cut.tracks.front()))
        throw MediaError(MediaError::Kind::read, "the range holds no video");
    // Back to the index's track order, which the clip keeps.
    std::sort(cut.tracks.begin(), cut.tracks.end(),
              [&](const CutTrack& a, const CutTrack& b) { return a.source < b.source; });
    return cut;
}

} // namespace vantel::media
