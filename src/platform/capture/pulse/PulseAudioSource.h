#pragma once

// Records the system sound (the monitor of the default sink, looked up by name and followed when
// the default sink changes) and optionally the microphone (the default source) from a PulseAudio
// server (or PipeWire's Pulse server) as 48 kHz float chunks of about 20 ms, stamped on
// CLOCK_MONOTONIC: a chunk's pts is the moment its first sample was captured, derived from the
// stream latency and kept contiguous while the stream runs smoothly. Without any output device
// the system sound is silent until one appears.
//
// Threads: start() and stop() from the owner's thread. Chunks and the error are delivered on
// libpulse's mainloop thread; the owner passes them on to its own thread.

#include "platform/capture/CaptureInternal.h"

#include <atomic>
#include <functional>
#include <pulse/def.h>
#include <string>

struct pa_threaded_mainloop;
struct pa_context;
struct pa_stream;
struct pa_operation;
struct pa_server_info;
struct pa_sink_info;

namespace vantel::platform {

class PulseAudioSource : public SoundSource {
public:
    PulseAudioSource(bool withMic, ChunkFn onChunk, ErrorFn onError);
    ~PulseAudioSource() override;
    PulseAudioSource(const PulseAudioSource&) = delete;
    PulseAudioSource& operator=(const PulseAudioSource&) = delete;

    // Connects and starts recording; throws std::runtime_error with a readable message.
    void start() override;
    // Stops recording; no callback runs after it returns. Safe to call twice.
    void stop() override;

    static constexpr int kRate = 48000;

private:
    struct Channel {
        PulseAudioSource* owner = nullptr;
        pa_stream* stream = nullptr;
        bool mic = false;
        int channels = 2;
        bool havePts = false;
        double nextPts = 0.0;
    };

    void openStream(Channel& ch, const char* device, const char* name);
    void closeStream(Channel& ch);
    void waitReady(Channel& ch);
    void await(pa_operation* operation);
    std::string defaultMonitor();
    void followDefaultSink();
    void read(Channel& ch);
    void fail(const std::string& message);
    std::string lastError() const;

    static void onContextState(pa_context* c, void* self);
    static void onStreamState(pa_stream* s, void* channel);
    static void onStreamRead(pa_stream* s, size_t bytes, void* channel);
    static void onSubscription(pa_context* c, pa_subscription_event_type_t type, uint32_t index,
                               void* self);
    static void onServerInfo(pa_context* c, const pa_server_info* info, void* self);
    static void onSinkInfo(pa_context* c, const pa_sink_info* info, int eol, void* self);

    bool m_withMic;
    ChunkFn m_onChunk;
    ErrorFn m_onError;
    pa_threaded_mainloop* m_loop = nullptr;
    pa_context* m_context = nullptr;
    Channel m_game;
    Channel m_mic;
    std::string m_sink;                 // the default output recorded; mainloop lock held
    std::atomic<bool> m_running{false}; // written under the mainloop lock
    std::atomic<bool> m_failed{false};
};

} // namespace vantel::platform
