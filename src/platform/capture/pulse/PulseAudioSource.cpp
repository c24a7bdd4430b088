#include "platform/capture/pulse/PulseAudioSource.h"

#include <cstring>
#include <pulse/pulseaudio.h>
#include <stdexcept>

namespace vantel::platform {

namespace {

// The sample count is the clock: latency readings wobble by milliseconds, and for the first few
// hundred milliseconds of a stream, before the server's timing reports arrive, they read up to a
// few hundred milliseconds too high. A chunk is stamped from its arrival instead only where that
// lies this far past the count: samples were lost (an overrun, a suspended source), and the gap
// becomes silence. A reading that puts a chunk before the count can only be such a bad reading.
constexpr double kLostSoundThreshold = 0.060;
constexpr uint32_t kFragmentMs = 20;

} // namespace

PulseAudioSource::PulseAudioSource(bool withMic, ChunkFn onChunk, ErrorFn onError)
    : m_withMic(withMic)
    , m_onChunk(std::move(onChunk))
    , m_onError(std::move(onError)) {
    m_game.owner = m_mic.owner = this;
    m_mic.mic = true;
    m_mic.channels = 1;
}

PulseAudioSource::~PulseAudioSource() {
    stop();
}

std::string PulseAudioSource::lastError() const {
    return pa_strerror(m_context ? pa_context_errno(m_context) : PA_ERR_UNKNOWN);
}

void PulseAudioSource::start() {
    m_loop = pa_threaded_mainloop_new();
    m_context = pa_context_new(pa_threaded_mainloop_get_api(m_loop), "Vantel Record");
    pa_context_set_state_callback(m_context, &onContextState, this);
    if (pa_context_connect(m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        std::string why = lastError();
        stop();
        throw std::runtime_error("Could not connect to the sound server: " + why);
    }
    pa_threaded_mainloop_lock(m_loop);
    pa_threaded_mainloop_start(m_loop);
    pa_context_state_t state;
    while ((state = pa_context_get_state(m_context)) != PA_CONTEXT_READY &&
           PA_CONTEXT_IS_GOOD(state))
        pa_threaded_mainloop_wait(m_loop);
    try {
        if (state != PA_CONTEXT_READY)
            throw std::runtime_error("Could not connect to the sound server: " + lastError());
        followDefaultSink();
        // Without any output device there is nothing to record yet: the track stays silent
        // until a default output appears.
        if (const std::string monitor = defaultMonitor(); !monitor.empty()) {
            openStream(m_game, monitor.c_str(), "Computer sound");
            waitReady(m_game);
        }
        if (m_withMic) {
            openStream(m_mic, "@DEFAULT_SOURCE@", "Microphone");
            waitReady(m_mic);
        }
        m_running = true;
    } catch (...) {
        pa_threaded_mainloop_unlock(m_loop);
        stop();
        throw;
    }
    pa_threaded_mainloop_unlock(m_loop);
}

// Called with the mainloop lock held, off the mainloop thread: waits for the operation, whose
// callback signals the mainloop.
void PulseAudioSource::await(pa_operation* operation) {
    if (!operation)
        throw std::runtime_error("Could not ask the sound server: " + lastError());
    while (pa_operation_get_state(operation) == PA_OPERATION_RUNNING)
        pa_threaded_mainloop_wait(m_loop);
    pa_operation_unref(operation);
}

// The system sound is the monitor of the default output, asked for by name: PipeWire's Pulse
// server routes a recording of "@DEFAULT_MONITOR@" to the default input, the microphone.
std::string PulseAudioSource::defaultMonitor() {
    struct Ask {
        pa_threaded_mainloop* loop;
        std::string sink, monitor;
    } ask{m_loop, {}, {}};
    await(pa_context_get_server_info(
        m_context,
        [](pa_context*, const pa_server_info* info, void* data) {
            auto* a = static_cast<Ask*>(data);
            if (info && info->default_sink_name)
                a->sink = info->default_sink_name;
            pa_threaded_mainloop_signal(a->loop, 0);
        },
        &ask));
    m_sink = ask.sink;
    if (ask.sink.empty())
        return {};
    await(pa_context_get_sink_info_by_name(
        m_context, ask.sink.c_str(),
        [](pa_context*, const pa_sink_info* info, int eol, void* data) {
            auto* a = static_cast<Ask*>(data);
            if (eol == 0 && info && info->monitor_source_name)
                a->monitor = info->monitor_source_name;
            pa_threaded_mainloop_signal(a->loop, 0);
        },
        &ask));
    return ask.monitor;
}

// Called with the mainloop lock held, off the mainloop thread.
void PulseAudioSource::followDefaultSink() {
    pa_context_set_subscribe_callback(m_context, &onSubscription, this);
    await(pa_context_subscribe(
        m_context, PA_SUBSCRIPTION_MASK_SERVER,
        [](pa_context*, int, void* self) {
            pa_threaded_mainloop_signal(static_cast<PulseAudioSource*>(self)->m_loop, 0);
        },
        this));
}

// On the mainloop thread: the server's defaults may have changed.
void PulseAudioSource::onSubscription(pa_context* c, pa_subscription_event_type_t type, uint32_t,
                                      void* self) {
    if ((type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK) != PA_SUBSCRIPTION_EVENT_SERVER)
        return;
    if (pa_operation* op = pa_context_get_server_info(c, &onServerInfo, self))
        pa_operation_unref(op);
}

void PulseAudioSource::onServerInfo(pa_context* c, const pa_server_info* info, void* self) {
    auto* me = static_cast<PulseAudioSource*>(self);
    const std::string sink = info && info->default_sink_name ? info->default_sink_name : "";
    if (!me->m_running || sink.empty() || sink == me->m_sink)
        return;
    me->m_sink = sink;
    if (pa_operation* op = pa_context_get_sink_info_by_name(c, sink.c_str(), &onSinkInfo, self))
        pa_operation_unref(op);
}

// The new default output's monitor replaces the recorded one: a new stream, whose first chunk
// starts the track's clock afresh.
void PulseAudioSource::onSinkInfo(pa_context*, const pa_sink_info* info, int eol, void* self) {
    auto* me = static_cast<PulseAudioSource*>(self);
    if (eol != 0 || !info || !info->monitor_source_name || !me->m_running)
        return;
    me->closeStream(me->m_game);
    try {
        me->openStream(me->m_game, info->monitor_source_name, "Computer sound");
    } catch (const std::exception& e) {
        me->fail(e.what());
    }
}

// Called with the mainloop lock held: creates the stream and asks for the connection, without
// waiting for it. The stream stays on the device it was given: following the default is ours.
void PulseAudioSource::openStream(Channel& ch, const char* device, const char* name) {
    ch.havePts = false;
    pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, uint32_t(kRate), uint8_t(ch.channels)};
    pa_channel_map map;
    pa_channel_map_init_auto(&map, spec.channels, PA_CHANNEL_MAP_DEFAULT);
    ch.stream = pa_stream_new(m_context, name, &spec, &map);
    if (!ch.stream)
        throw std::runtime_error("Could not record the sound: " + lastError());
    pa_stream_set_state_callback(ch.stream, &onStreamState, &ch);
    pa_stream_set_read_callback(ch.stream, &onStreamRead, &ch);
    pa_buffer_attr attr;
    std::memset(&attr, 0xff, sizeof attr); // (uint32_t)-1: the server's choice
    attr.fragsize = uint32_t(pa_usec_to_bytes(kFragmentMs * 1000, &spec));
    auto flags = pa_stream_flags_t(PA_STREAM_ADJUST_LATENCY | PA_STREAM_AUTO_TIMING_UPDATE |
                                   PA_STREAM_INTERPOLATE_TIMING);
    if (pa_stream_connect_record(ch.stream, device, &attr, flags) < 0)
        throw std::runtime_error("Could not record the sound: " + lastError());
}

// Called with the mainloop lock held.
void PulseAudioSource::closeStream(Channel& ch) {
    if (!ch.stream)
        return;
    pa_stream_set_state_callback(ch.stream, nullptr, nullptr);
    pa_stream_set_read_callback(ch.stream, nullptr, nullptr);
    pa_stream_disconnect(ch.stream);
    pa_stream_unref(ch.stream);
    ch.stream = nullptr;
}

void PulseAudioSource::waitReady(Channel& ch) {
    pa_stream_state_t state;
    while ((state = pa_stream_get_state(ch.stream)) != PA_STREAM_READY && PA_STREAM_IS_GOOD(state))
        pa_threaded_mainloop_wait(m_loop);
    if (state != PA_STREAM_READY)
        throw std::runtime_error(std::string(ch.mic ? "Could not record the microphone: "
                                                    : "Could not record the computer sound: ") +
                                 lastError());
}

void PulseAudioSource::stop() {
    if (!m_loop)
        return;
    pa_threaded_mainloop_lock(m_loop);
    m_running = false;
    closeStream(m_game);
    closeStream(m_mic);
    if (m_context) {
        pa_context_set_subscribe_callback(m_context, nullptr, nullptr);
        pa_context_set_state_callback(m_context, nullptr, nullptr);
        pa_context_disconnect(m_context);
        pa_context_unref(m_context);
        m_context = nullptr;
    }
    pa_threaded_mainloop_unlock(m_loop);
    pa_threaded_mainloop_stop(m_loop);
    pa_threaded_mainloop_free(m_loop);
    m_loop = nullptr;
}

void PulseAudioSource::fail(const std::string& message) {
    if (m_running && !m_failed.exchange(true) && m_onError)
        m_onError(message);
}

void PulseAudioSource::onContextState(pa_context* c, void* self) {
    auto* me = static_cast<PulseAudioSource*>(self);
    if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(c)))
        me->fail("The connection to the sound server was lost.");
    pa_threaded_mainloop_signal(me->m_loop, 0);
}

void PulseAudioSource::onStreamState(pa_stream* s, void* channel) {
    auto* ch = static_cast<Channel*>(channel);
    if (!PA_STREAM_IS_GOOD(pa_stream_get_state(s)))
        ch->owner->fail(ch->mic ? "Recording the microphone stopped."
                                : "Recording the computer sound stopped.");
    pa_threaded_mainloop_signal(ch->owner->m_loop, 0);
}

void PulseAudioSource::onStreamRead(pa_stream*, size_t, void* channel) {
    auto* ch = static_cast<Channel*>(channel);
    ch->owner->read(*ch);
}

void PulseAudioSource::read(Channel& ch) {
    while (pa_stream_readable_size(ch.stream) > 0) {
        const void* data = nullptr;
        size_t bytes = 0;
        if (pa_stream_peek(ch.stream, &data, &bytes) < 0) {
            fail("Recording the sound failed: " + lastError());
            return;
        }
        if (bytes == 0)
            return;
        if (!data) { // a hole: samples were lost, the clock must resynchronise
            ch.havePts = false;
            pa_stream_drop(ch.stream);
            continue;
        }
        // The latency is the age of the oldest unread sample: the first one of this chunk.
        pa_usec_t latency = 0;
        int negative = 0;
        double age = pa_stream_get_latency(ch.stream, &latency, &negative) >= 0
                         ? (negative ? -1.0 : 1.0) * double(latency) * 1e-6
                         : 0.0;
        media::AudioChunk chunk;
        chunk.channels = ch.channels;
        chunk.sampleRate = kRate;
        chunk.samples.resize(bytes / sizeof(float));
        std::memcpy(chunk.samples.data(), data, chunk.samples.size() * sizeof(float));
        pa_stream_drop(ch.stream);
        const double now = media::captureClockNow();
        const double duration = double(chunk.frameCount()) / kRate;
        // The first chunk is read as it comes: its last sample was just recorded.
        double pts = ch.havePts ? now - age : now - duration;
        if (ch.havePts && pts - ch.nextPts < kLostSoundThreshold)
            pts = ch.nextPts;
        chunk.pts = pts;
        ch.havePts = true;
        ch.nextPts = pts + duration;
        if (m_onChunk)
            m_onChunk(std::move(chunk), ch.mic);
    }
}

std::unique_ptr<SoundSource> createSoundSource(bool withMic, SoundSource::ChunkFn onChunk,
                                               SoundSource::ErrorFn onError) {
    return std::make_unique<PulseAudioSource>(withMic, std::move(onChunk), std::move(onError));
}

} // namespace vantel::platform
