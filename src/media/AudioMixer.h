#pragma once

// The audio half of an export: decodes every audio track of its own input over the kept range,
// mixes them with the track's gain (the first track is the game sound, every later one the
// microphone) into one stereo track and encodes it as AAC (48 kHz, 256 kb/s) whose time zero is
// the range start.
//
// The mixing is libavfilter's: per track a small conversion graph (to 48 kHz stereo float; a mono
// track goes to both sides at full level), rebuilt when the track changes its layout or rate
// part-way, and one mixing graph ("aresample" with "async" to fill gaps with silence and to cut
// the lead-in before the range start, "volume" per track, "amix"). Every step works on the
// samples once, so the time grows with the clip's length alone. A track that falls far behind
// the others in the file (it has ended, or has a long gap) is fed silence, so the mix never
// holds more than a few seconds of the others waiting for it.
//
// Construction (on the exporting thread, before the header is written) opens the input, the
// decoders and the encoder and adds the output stream; run() then works on the pump's own
// thread. Only the Mp4Output is shared with the video pump.

#include "AudioFilterGraph.h"
#include "FfmpegPtr.h"
#include "Mp4Output.h"
#include "RangeCopy.h"

#include <atomic>
#include <memory>
#include <optional>
#include <vector>

namespace vantel::media {

class AudioMixer {
public:
    // Throws MediaError(openInput) for the input and decoders, MediaError(openOutput) for the
    // encoder.
    AudioMixer(const std::filesystem::path& source, Mp4Output& out, TimeRange kept,
               float gameVolume, float micVolume);
    ~AudioMixer();

    // Returns early when `stop` is set. Throws MediaError(read) or MediaError(write).
    void run(const std::atomic<bool>& stop);

private:
    struct Track {
        int stream = 0;
        int input = 0; // input of the mixing graph
        float gain = 1.0f;
        CodecContextPtr dec;
        std::optional<AudioFilterGraph> convert;
        AudioFilterGraph::Input convertIn; // what `convert` was built for
        int64_t mixedUntil = 0;            // mixing-graph time (1/48000) handed over so far
    };

    void openEncoder();
    void buildMix();
    Track* trackOf(int stream);
    void decode(Track& t, const AVPacket* pkt);
    void convert(Track& t, AVFrame* frame);
    void openConverter(Track& t, const AVFrame* frame);
    void endConverter(Track& t);
    void hand(Track& t, AVFrame* frame);
    void padTo(Track& t, int64_t upTo, int64_t minimum);
    void finishMix();
    void encodeMixed();
    void encode(const AVFrame* frame);

    InputContextPtr m_in;
    Mp4Output& m_out;
    AVStream* m_ost = nullptr;
    TimeRange m_kept;
    int64_t m_total = 0;   // samples of the kept range
    int64_t m_emitted = 0; // samples handed to the encoder
    std::vector<Track> m_tracks;
    std::optional<AudioFilterGraph> m_mix;
    CodecContextPtr m_enc;
    FramePtr m_converted;
    FramePtr m_mixed;
};

} // namespace vantel::media
