#pragma once

// The audio half of an export: decodes every audio track of its own input over the kept range,
// resamples each to 48 kHz stereo float, applies the track's gain (the first track is the game
// sound, every later one the microphone), sums them and encodes one AAC track (48 kHz, stereo,
// 256 kb/s) whose time zero is the range start.
//
// Construction (on the exporting thread, before the header is written) opens the input, the
// decoders and the encoder and adds the output stream; run() then works on the pump's own
// thread. Only the Mp4Output is shared with the video pump.

#include "FfmpegPtr.h"
#include "Mp4Output.h"
#include "RangeCopy.h"

#include <atomic>
#include <vector>

namespace vantel::media {

class AudioMixer {
public:
    // Throws MediaError(openInput) for the input and decoders, MediaError(openOutput) for the
    // encoder.
    AudioMixer(const std::filesystem::path& source, Mp4Output& out, TimeRange kept,
               float gameVolume, float micVolume);

    // Returns early when `stop` is set. Throws MediaError(read) or MediaError(write).
    void run(const std::atomic<bool>& stop);

private:
    // One source track: its decoder, resampler and the resampled samples not yet mixed.
    struct Track {
        int stream = 0;
        float gain = 1.0f;
        CodecContextPtr dec;
        SwrPtr swr;
        // What `swr` converts from; a frame that differs (a stream changing its channel mode
        // or rate part-way) gets a new resampler.
        int inRate = 0;
        int inFormat = -1;
        int inChannels = 0;
        uint64_t inMask = 0;
        std::vector<float> left, right;
        int64_t bufferStart = 0; // output sample position of left[0]
        bool started = false;
        bool finished = false;
        int64_t bufferEnd() const { return bufferStart + int64_t(left.size()); }
    };

    void openEncoder();
    Track* trackOf(int stream);
    void decode(Track& t, AVPacket* pkt);
    void resample(Track& t, const AVFrame* frame);
    void openResampler(Track& t, const AVFrame* frame);
    void convert(Track& t, const AVFrame* frame, int64_t position);
    void append(Track& t, int64_t position, float* const* planes, int count);
    int64_t mixable() const;
    void mixAndEncode(int64_t upTo);
    void encodeFrame(int count);
    void flushEncoder();

    InputContextPtr m_in;
    Mp4Output& m_out;
    AVStream* m_ost = nullptr;
    TimeRange m_kept;
    int64_t m_total = 0;   // samples of the kept range
    int64_t m_emitted = 0; // samples handed to the encoder
    std::vector<Track> m_tracks;
    CodecContextPtr m_enc;
    FramePtr m_frame;
};

} // namespace vantel::media
