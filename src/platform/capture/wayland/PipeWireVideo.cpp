#include "platform/capture/wayland/PipeWireVideo.h"

#include "platform/capture/wayland/PictureBounds.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}
#include <chrono>
#include <cstdio>
#include <mutex>
#include <pipewire/pipewire.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>
#include <stdexcept>
#include <unistd.h>

namespace vantel::platform {

struct PipeWireVideo::Hooks {
    spa_hook core{};
    spa_hook stream{};
    spa_hook registry{};
    pw_core_events coreEvents{};
    pw_registry_events registryEvents{};
    pw_stream_events streamEvents{};
};

namespace {

void initPipeWire() {
    static std::once_flag once;
    std::call_once(once, [] { pw_init(nullptr, nullptr); });
}

// The FFmpeg layout of a 32-bit PipeWire video format, or -1 for one we do not take.
int pixelFormat(uint32_t format) {
    switch (format) {
    case SPA_VIDEO_FORMAT_BGRx:
        return AV_PIX_FMT_BGR0;
    case SPA_VIDEO_FORMAT_BGRA:
        return AV_PIX_FMT_BGRA;
    case SPA_VIDEO_FORMAT_RGBx:
        return AV_PIX_FMT_RGB0;
    case SPA_VIDEO_FORMAT_RGBA:
        return AV_PIX_FMT_RGBA;
    default:
        return -1;
    }
}

// What we accept: the 32-bit RGB layouts at any size, pictures as they come (at most maxFps).
const spa_pod* formatOffer(spa_pod_builder& b, int maxFps) {
    spa_rectangle defSize = SPA_RECTANGLE(1920, 1080);
    spa_rectangle minSize = SPA_RECTANGLE(1, 1);
    spa_rectangle maxSize = SPA_RECTANGLE(16384, 16384);
    spa_fraction variable = SPA_FRACTION(0, 1);
    spa_fraction maxRate = SPA_FRACTION(uint32_t(maxFps), 1);
    spa_fraction minRate = SPA_FRACTION(1, 1);
    return static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &b, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType,
        SPA_POD_Id(SPA_MEDIA_TYPE_video), SPA_FORMAT_mediaSubtype,
        SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format,
        SPA_POD_CHOICE_ENUM_Id(5, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRx,
                               SPA_VIDEO_FORMAT_BGRA, SPA_VIDEO_FORMAT_RGBx, SPA_VIDEO_FORMAT_RGBA),
        SPA_FORMAT_VIDEO_size, SPA_POD_CHOICE_RANGE_Rectangle(&defSize, &minSize, &maxSize),
        SPA_FORMAT_VIDEO_framerate, SPA_POD_Fraction(&variable), SPA_FORMAT_VIDEO_maxFramerate,
        SPA_POD_CHOICE_RANGE_Fraction(&maxRate, &minRate, &maxRate)));
}

// Shared memory only: this process maps the pictures and converts them on the CPU.
const spa_pod* bufferOffer(spa_pod_builder& b) {
    return static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &b, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_dataType,
        SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemFd) | (1 << SPA_DATA_MemPtr))));
}

} // namespace

PipeWireVideo::PipeWireVideo(int remoteFd, uint32_t node, int outWidth, int outHeight, int maxFps,
                             FrameFn onFrame, ErrorFn onError)
    : m_fd(remoteFd)
    , m_node(node)
    , m_outWidth(outWidth)
    , m_outHeight(outHeight)
    , m_maxFps(maxFps > 0 ? maxFps : 60)
    , m_onFrame(std::move(onFrame))
    , m_onError(std::move(onError))
    , m_hooks(std::make_unique<Hooks>()) {
    initPipeWire();
}

PipeWireVideo::~PipeWireVideo() {
    stop();
}

void PipeWireVideo::start(double timeout) {
    m_loop = pw_thread_loop_new("record.pipewire", nullptr);
    if (!m_loop)
        throw std::runtime_error("The screen stream could not be set up.");
    m_context = pw_context_new(pw_thread_loop_get_loop(m_loop), nullptr, 0);
    if (!m_context || pw_thread_loop_start(m_loop) < 0)
        throw std::runtime_error("The screen stream could not be set up.");
    pw_thread_loop_lock(m_loop);
    try {
        connectStream();
    } catch (...) {
        pw_thread_loop_unlock(m_loop);
        throw;
    }
    pw_thread_loop_unlock(m_loop);

    std::unique_lock lock(m_lock);
    const bool settled = m_changed.wait_for(lock, std::chrono::duration<double>(timeout),
                                            [this] { return m_streaming || m_error; });
    if (m_error)
        throw std::runtime_error(*m_error);
    if (!settled)
        throw std::runtime_error("The screen share did not start.");
}

// With the thread loop locked.
void PipeWireVideo::connectStream() {
    m_core = pw_context_connect_fd(m_context, m_fd, nullptr, 0);
    m_fd = -1; // the core owns it now, also when connecting failed
    if (!m_core)
        throw std::runtime_error("The screen stream could not connect to PipeWire.");
    m_hooks->coreEvents.version = PW_VERSION_CORE_EVENTS;
    m_hooks->coreEvents.error = [](void* self, uint32_t id, int, int, const char* message) {
        if (id == PW_ID_CORE)
            static_cast<PipeWireVideo*>(self)->fail(std::string("The screen share ended: ") +
                                                    (message ? message : "connection lost"));
    };
    pw_core_add_listener(m_core, &m_hooks->core, &m_hooks->coreEvents, this);
    watchNode();

    m_stream = pw_stream_new(m_core, "Vantel Record",
                             pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY,
                                               "Capture", PW_KEY_MEDIA_ROLE, "Screen", nullptr));
    if (!m_stream)
        throw std::runtime_error("The screen stream could not be set up.");
    pw_stream_events& events = m_hooks->streamEvents;
    events.version = PW_VERSION_STREAM_EVENTS;
    events.state_changed = [](void* self, pw_stream_state, pw_stream_state state,
                              const char* error) {
        static_cast<PipeWireVideo*>(self)->onStateChanged(int(state), error);
    };
    events.param_changed = [](void* self, uint32_t id, const spa_pod* param) {
        static_cast<PipeWireVideo*>(self)->onParamChanged(id, param);
    };
    events.process = [](void* self) {
        static_cast<PipeWireVideo*>(self)->onProcess();
    };
    pw_stream_add_listener(m_stream, &m_hooks->stream, &events, this);

    uint8_t storage[1024];
    spa_pod_builder b = SPA_POD_BUILDER_INIT(storage, sizeof(storage));
    const spa_pod* params[] = {formatOffer(b, m_maxFps)};
    const auto flags = pw_stream_flags(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS);
    if (pw_stream_connect(m_stream, PW_DIRECTION_INPUT, m_node, flags, params, 1) < 0)
        throw std::runtime_error("The screen stream could not connect to the shared screen.");
}

// When the desktop ends the share (the user stops it, the portal closes the session, the
// compositor's cast dies), the node we read goes away. Our stream then merely pauses, as if the
// screen stood still: only the node's removal tells that no picture will come again.
void PipeWireVideo::watchNode() {
    m_registry = pw_core_get_registry(m_core, PW_VERSION_REGISTRY, 0);
    if (!m_registry)
        throw std::runtime_error("The screen stream could not be set up.");
    m_hooks->registryEvents.version = PW_VERSION_REGISTRY_EVENTS;
    m_hooks->registryEvents.global_remove = [](void* data, uint32_t id) {
        auto* self = static_cast<PipeWireVideo*>(data);
        if (id == self->m_node)
            self->fail("The screen share ended.");
    };
    pw_registry_add_listener(m_registry, &m_hooks->registry, &m_hooks->registryEvents, this);
}

void PipeWireVideo::stop() {
    {
        std::lock_guard lock(m_lock);
        m_stopping = true;
    }
    if (m_loop) {
        pw_thread_loop_lock(m_loop);
        if (m_stream) {
            pw_stream_disconnect(m_stream);
            pw_stream_destroy(m_stream);
        }
        if (m_registry)
            pw_proxy_destroy(reinterpret_cast<pw_proxy*>(m_registry));
        if (m_core)
            pw_core_disconnect(m_core);
        pw_thread_loop_unlock(m_loop);
        pw_thread_loop_stop(m_loop);
    }
    m_stream = nullptr;
    m_registry = nullptr;
    m_core = nullptr;
    if (m_context)
        pw_context_destroy(m_context);
    m_context = nullptr;
    if (m_loop)
        pw_thread_loop_destroy(m_loop);
    m_loop = nullptr;
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

void PipeWireVideo::onParamChanged(uint32_t id, const spa_pod* param) {
    if (!param || id != SPA_PARAM_Format)
        return;
    spa_video_info_raw info{};
    if (spa_format_video_raw_parse(param, &info) < 0)
        return;
    m_pixelFormat = pixelFormat(info.format);
    m_width = int(info.size.width);
    m_height = int(info.size.height);
    m_converter.reset();
    if (m_pixelFormat < 0 || m_width <= 0 || m_height <= 0) {
        fail("The shared screen has a picture format that cannot be recorded.");
        return;
    }
    try {
        m_converter = std::make_unique<ScreenConverter>(
            m_width, m_height, AVPixelFormat(m_pixelFormat), m_outWidth, m_outHeight);
    } catch (const std::exception& e) {
        fail(e.what());
        return;
    }

    uint8_t storage[256];
    spa_pod_builder b = SPA_POD_BUILDER_INIT(storage, sizeof(storage));
    const spa_pod* params[] = {bufferOffer(b)};
    pw_stream_update_params(m_stream, params, 1);
}

void PipeWireVideo::onProcess() {
    // Only the newest picture matters; older queued ones go straight back.
    pw_buffer* newest = nullptr;
    while (pw_buffer* next = pw_stream_dequeue_buffer(m_stream)) {
        if (newest)
            pw_stream_queue_buffer(m_stream, newest);
        newest = next;
    }
    if (!newest)
        return;
    const spa_data& d = newest->buffer->datas[0];
    const bool usable = d.data && d.chunk && d.chunk->size > 0 &&
                        !(d.chunk->flags & SPA_CHUNK_FLAG_CORRUPTED) && m_converter;
    if (usable) {
        if (const std::optional<int> stride =
                pictureStride(d.maxsize, d.chunk->offset, d.chunk->stride, m_width, m_height)) {
            // A picture that finds no memory is left out; the last one is repeated meanwhile.
            if (media::FramePtr frame = m_converter->convert(
                    static_cast<const uint8_t*>(d.data) + d.chunk->offset, *stride))
                m_onFrame(std::move(frame));
        } else {
            skipUnfit(d.maxsize, d.chunk->offset, d.chunk->stride);
        }
    }
    pw_stream_queue_buffer(m_stream, newest);
}

// The producer described a picture outside its own buffer: reading it would read memory that is
// not the picture. It is left out (the last good one is repeated) and said once per stream.
void PipeWireVideo::skipUnfit(uint32_t size, uint32_t offset, int32_t stride) {
    if (m_unfitPictures.fetch_add(1) == 0)
        std::fprintf(stderr,
                     "vantel-record: a screen picture of %dx%d does not fit its buffer (%u bytes, "
                     "offset %u, stride %d); such pictures are skipped\n",
                     m_width, m_height, size, offset, stride);
}

void PipeWireVideo::onStateChanged(int state, const char* error) {
    if (state == PW_STREAM_STATE_STREAMING) {
        std::lock_guard lock(m_lock);
        m_streaming = true;
        m_changed.notify_all();
    } else if (state == PW_STREAM_STATE_ERROR)
        fail(std::string("The screen share failed: ") + (error ? error : "unknown error"));
    else if (state == PW_STREAM_STATE_UNCONNECTED)
        fail("The screen share ended.");
}

void PipeWireVideo::fail(const std::string& message) {
    {
        std::lock_guard lock(m_lock);
        if (m_stopping || m_error)
            return;
        m_error = message;
        m_changed.notify_all();
    }
    m_onError(message);
}

} // namespace vantel::platform
