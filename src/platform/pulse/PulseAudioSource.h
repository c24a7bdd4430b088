#pragma once

// Records the system sound (the default sink's monitor) and optionally the microphone (the
// default source) from a PulseAudio server (or PipeWire's Pulse server) as 48 kHz float chunks
// of about 20 ms, stamped on CLOCK_MONOTONIC: a chunk's pts is the moment its first sample was
// captured, derived from the stream latency and kept contiguous while the stream runs smoothly.
//
// Threads: start() and stop() from the owner's thread. Chunks and the error are delivered on
// libpulse's mainloop thread; the owner passes them on to its own thread.

#include "media/MediaSample.h"

#include <atomic>
#include <functional>
#include <string>

struct pa_threaded_mainloop;
struct pa_context;
struct pa_stream;

namespace vantel::platform {

class PulseAudioSource {
public:
    using ChunkFn = std::function<void(media::AudioChunk&& chunk, bool fromMic)>;
    // Called at most once, when the server connection or a stream fails while running.
    using ErrorFn = std::function<void(const std::string& message)>;

    PulseAudioSource(bool withMic, ChunkFn onChunk, ErrorFn onError);
    ~PulseAudioSource();
    PulseAudioSource(const PulseAudioSource&) = delete;
    PulseAudioSource& operator=(const PulseAudioSource&) = delete;

    // Connects and starts recording; throws std::runtime_error with a readable message.
    void start();
    // Stops recording; no callback runs after it returns. Safe to call twice.
    void stop();

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
    void waitReady(Channel& ch);
    void read(Channel& ch);
    void fail(const std::string& message);
    std::string lastError() const;

    static void onContextState(pa_context* c, void* self);
    static void onStreamState(pa_stream* s, void* channel);
    static void onStreamRead(pa_stream* s, size_t bytes, void* channel);

    bool m_withMic;
    ChunkFn m_onChunk;
    ErrorFn m_onError;
    pa_threaded_mainloop* m_loop = nullptr;
    pa_context* m_context = nullptr;
    Channel m_game;
    Channel m_mic;
    std::atomic<bool> m_running{false}; // written under the mainloop lock
    std::atomic<bool> m_failed{false};
};

} // namespace vantel::platform
