#pragma once

// A libavfilter graph over audio: numbered inputs ("[in0]", "[in1]", ...) fed with frames, one
// output ("[out]") read back. The graph is described in FFmpeg's filter graph syntax.
//
// Thread: used by one thread at a time. Errors are thrown as MediaError(read); the graph holds
// no file, so a failure here is always in the audio being converted.

#include "FfmpegPtr.h"

#include <string>
#include <vector>

namespace vantel::media {

class AudioFilterGraph {
public:
    // What one input receives; every frame pushed into it must match.
    struct Input {
        AVRational timeBase{1, 1};
        int sampleRate = 0;
        AVSampleFormat format = AV_SAMPLE_FMT_NONE;
        AVChannelLayout layout{};
    };
    // The parameters of `frame`, in `timeBase`.
    static Input inputOf(const AVFrame* frame, AVRational timeBase);

    // `frameSize` > 0 makes the output deliver frames of exactly that many samples (the last one
    // may be shorter).
    AudioFilterGraph(const std::vector<Input>& inputs, const std::string& description,
                     int frameSize = 0);

    // Feeds one frame to input `index`; nullptr ends that input. The frame is left untouched.
    void push(int index, const AVFrame* frame);
    // The next output frame into `out` (unreferenced first); false when the graph needs more
    // input or has ended.
    bool pull(AVFrame* out);
    AVRational outputTimeBase() const;

private:
    void link(const std::string& description);

    FilterGraphPtr m_graph;
    std::vector<AVFilterContext*> m_sources;
    AVFilterContext* m_sink = nullptr;
};

// The stereo layout at 48 kHz, planar float: what the export mixes in and encodes from.
AudioFilterGraph::Input stereoInput48k();

} // namespace vantel::media
