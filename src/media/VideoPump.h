#pragma once

// The video half of an export: reads the first video stream of its own input over the kept
// range and either copies the packets unchanged or decodes, scales and re-encodes them to H.264.
//
// Construction (on the exporting thread, before the header is written) opens the input and adds
// the output stream; run() then works on the pump's own thread. Nothing is shared with the audio
// pump except the Mp4Output, whose write() is thread-safe.

#include "Exporter.h"
#include "FfmpegPtr.h"
#include "Mp4Output.h"

#include <atomic>
#include <functional>

namespace vantel::media {

class VideoPump {
public:
    // Throws MediaError(openInput) for the input, MediaError(openOutput) for the encoder.
    VideoPump(const std::filesystem::path& source, Mp4Output& out, const ExportPlan& plan,
              TimeRange kept, std::optional<double> frameRate,
              std::function<void(double)> progress);

    // Moves every video sample of the range to the output; returns early when `stop` is set.
    // Throws MediaError(read) or MediaError(write).
    void run(const std::atomic<bool>& stop);

private:
    void openEncoder(const AVStream* in, const ExportPlan& plan, std::optional<double> fps);
    void copyPacket(AVPacket* pkt);
    void decodePacket(const AVPacket* pkt);
    void takeFrame(const AVFrame* frame);
    void encode(const AVFrame* frame, int64_t pts);
    void sendToEncoder(const AVFrame* frame);
    void report(int64_t pts, AVRational tb);

    InputContextPtr m_in;
    int m_stream = -1;
    AVRational m_inTb{};
    Mp4Output& m_out;
    AVStream* m_ost = nullptr;
    TimeRange m_kept;
    int64_t m_endTs = 0; // range length in the input time base
    std::function<void(double)> m_progress;

    // Re-encoding only; all null when copying.
    CodecContextPtr m_dec;
    CodecContextPtr m_enc;
    SwsPtr m_sws;
    FramePtr m_scaled;
    FramePtr m_held;          // the last frame before the range start, shown at time zero
    int64_t m_frameTicks = 1; // nominal frame duration in the input time base
    double m_lastKey = -1e9;  // seconds, of the last forced key frame
};

} // namespace vantel::media
