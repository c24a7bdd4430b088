#pragma once

// Receives the pictures of one screen-cast node from PipeWire and converts each to the encoder's
// input (yuv420p at the output size, BT.709 limited range). The node sends a picture only when
// the screen changed; repeating it at a steady rate is the caller's business.
//
// Buffers are shared memory (memfd or plain pointers) in a 32-bit RGB layout; the size may
// change while it runs (the converter follows, the output size stays).
//
// Threads: start() (once per object) and stop() from the owner. PipeWire runs on a thread loop
// of its own ("record.pipewire"); the frame and error callbacks come on it, with the loop's lock
// held, so stop() (which takes that lock) returns only after a running callback ended.

#include "media/FfmpegPtr.h"
#include "platform/capture/ScreenConverter.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

struct pw_thread_loop;
struct pw_context;
struct pw_core;
struct pw_stream;
struct pw_registry;
struct spa_pod;

namespace vantel::platform {

class PipeWireVideo {
public:
    using FrameFn = std::function<void(media::FramePtr frame)>;
    // Called at most once, when the stream fails or ends while running: an error of the stream
    // or of the connection, or the shared node going away (the desktop ended the share).
    using ErrorFn = std::function<void(const std::string& message)>;

    // Takes the remote's descriptor over.
    PipeWireVideo(int remoteFd, uint32_t node, int outWidth, int outHeight, int maxFps,
                  FrameFn onFrame, ErrorFn onError);
    ~PipeWireVideo();
    PipeWireVideo(const PipeWireVideo&) = delete;
    PipeWireVideo& operator=(const PipeWireVideo&) = delete;

    // Connects and waits until the stream runs. Throws std::runtime_error with a readable
    // message when it fails or does not run within `timeout` seconds. The first picture may
    // come later: some compositors send none before the screen changes.
    void start(double timeout = 10.0);
    // Disconnects; no callback runs after it returns. Safe to call twice.
    void stop();
    // Pictures left out because the producer placed them outside their buffer (any thread).
    uint64_t unfitPictures() const { return m_unfitPictures; }

private:
    struct Hooks;
    void connectStream();
    void watchNode();
    void onParamChanged(uint32_t id, const spa_pod* param);
    void onProcess();
    void skipUnfit(uint32_t size, uint32_t offset, int32_t stride);
    void onStateChanged(int state, const char* error);
    void fail(const std::string& message);

    int m_fd; // the owner's, until connectStream() hands it to the core
    uint32_t m_node;
    int m_outWidth;
    int m_outHeight;
    int m_maxFps;
    FrameFn m_onFrame;
    ErrorFn m_onError;

    // Made and destroyed by the owner (start(), stop()); used on PipeWire's thread in between,
    // and by the owner only with the loop's lock held.
    pw_thread_loop* m_loop = nullptr;
    pw_context* m_context = nullptr;
    pw_core* m_core = nullptr;
    pw_stream* m_stream = nullptr;
    pw_registry* m_registry = nullptr;
    std::unique_ptr<Hooks> m_hooks;

    // PipeWire thread only.
    int m_width = 0;
    int m_height = 0;
    int m_pixelFormat = -1; // AVPixelFormat of the negotiated layout
    std::unique_ptr<ScreenConverter> m_converter;

    std::atomic<uint64_t> m_unfitPictures{0}; // written on PipeWire's thread

    std::mutex m_lock;
    std::condition_variable m_changed; // waits on m_lock: start() for m_streaming or m_error
    // The following fields are protected by m_lock.
    bool m_streaming = false;
    bool m_stopping = false;
    std::optional<std::string> m_error;
};

} // namespace vantel::platform
