#include "AudioFilterGraph.h"

#include "MediaError.h"

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
}

namespace vantel::media {

namespace {

[[noreturn]] void fail(const std::string& what, int err) {
    throw MediaError(MediaError::Kind::read, what + ": " + averror(err));
}

std::string sourceArgs(const AudioFilterGraph::Input& in) {
    char layout[128] = {};
    av_channel_layout_describe(&in.layout, layout, sizeof layout);
    return "time_base=" + std::to_string(in.timeBase.num) + "/" + std::to_string(in.timeBase.den) +
           ":sample_rate=" + std::to_string(in.sampleRate) +
           ":sample_fmt=" + av_get_sample_fmt_name(in.format) + ":channel_layout=" + layout;
}

// The named, open pads of `filters` as a chain for avfilter_graph_parse_ptr; the caller frees it.
AVFilterInOut* pads(const std::vector<std::pair<AVFilterContext*, std::string>>& filters) {
    AVFilterInOut* head = nullptr;
    for (auto it = filters.rbegin(); it != filters.rend(); ++it) {
        AVFilterInOut* pad = avfilter_inout_alloc();
        if (!pad) {
            avfilter_inout_free(&head);
            throw MediaError(MediaError::Kind::read, "out of memory for the audio graph");
        }
        pad->name = av_strdup(it->second.c_str());
        pad->filter_ctx = it->first;
        pad->pad_idx = 0;
        pad->next = head;
        head = pad;
    }
    return head;
}

} // namespace

AudioFilterGraph::Input AudioFilterGraph::inputOf(const AVFrame* frame, AVRational timeBase) {
    Input in;
    in.timeBase = timeBase;
    in.sampleRate = frame->sample_rate;
    in.format = AVSampleFormat(frame->format);
    // A native layout is a plain mask and needs no freeing; anything else is taken by its
    // channel count.
    if (frame->ch_layout.order == AV_CHANNEL_ORDER_NATIVE)
        in.layout = frame->ch_layout;
    else
        av_channel_layout_default(&in.layout, frame->ch_layout.nb_channels);
    return in;
}

AudioFilterGraph::Input stereoInput48k() {
    AudioFilterGraph::Input in;
    in.timeBase = {1, 48000};
    in.sampleRate = 48000;
    in.format = AV_SAMPLE_FMT_FLTP;
    av_channel_layout_default(&in.layout, 2);
    return in;
}

AudioFilterGraph::AudioFilterGraph(const std::vector<Input>& inputs, const std::string& description,
                                   int frameSize)
    : m_graph(avfilter_graph_alloc()) {
    if (!m_graph)
        throw MediaError(MediaError::Kind::read, "out of memory for the audio graph");
    // One thread: the export already runs a pump per track and the graph's work is small.
    m_graph->nb_threads = 1;
    const AVFilter* abuffer = avfilter_get_by_name("abuffer");
    for (size_t i = 0; i < inputs.size(); ++i) {
        AVFilterContext* src = nullptr;
        const std::string name = "in" + std::to_string(i);
        if (int err = avfilter_graph_create_filter(
                &src, abuffer, name.c_str(), sourceArgs(inputs[i]).c_str(), nullptr, m_graph.get());
            err < 0)
            fail("cannot take this audio format", err);
        m_sources.push_back(src);
    }
    if (int err = avfilter_graph_create_filter(&m_sink, avfilter_get_by_name("abuffersink"), "out",
                                               nullptr, nullptr, m_graph.get());
        err < 0)
        fail("cannot set up the audio graph", err);
    link(description);
    if (frameSize > 0)
        av_buffersink_set_frame_size(m_sink, unsigned(frameSize));
}

void AudioFilterGraph::link(const std::string& description) {
    std::vector<std::pair<AVFilterContext*, std::string>> sources;
    for (size_t i = 0; i < m_sources.size(); ++i)
        sources.emplace_back(m_sources[i], "in" + std::to_string(i));
    AVFilterInOut* outputs = pads(sources);
    AVFilterInOut* inputs = pads({{m_sink, "out"}});
    int err =
        avfilter_graph_parse_ptr(m_graph.get(), description.c_str(), &inputs, &outputs, nullptr);
    avfilter_inout_free(&inputs);
    avfilter_inout_free(&outputs);
    if (err < 0)
        fail("cannot build the audio graph", err);
    if ((err = avfilter_graph_config(m_graph.get(), nullptr)) < 0)
        fail("cannot configure the audio graph", err);
}

void AudioFilterGraph::push(int index, const AVFrame* frame) {
    const int err = av_buffersrc_write_frame(m_sources[size_t(index)], frame);
    if (err < 0)
        fail("cannot convert the audio", err);
}

bool AudioFilterGraph::pull(AVFrame* out) {
    av_frame_unref(out);
    const int err = av_buffersink_get_frame(m_sink, out);
    if (err == AVERROR(EAGAIN) || err == AVERROR_EOF)
        return false;
    if (err < 0)
        fail("cannot convert the audio", err);
    return true;
}

AVRational AudioFilterGraph::outputTimeBase() const {
    return av_buffersink_get_time_base(m_sink);
}

} // namespace vantel::media
