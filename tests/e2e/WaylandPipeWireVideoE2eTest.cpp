// The screen-cast stream's PipeWire side against a video source of our own on the session's
// PipeWire (tests/e2e/session.sh --wayland), standing in for the compositor's cast: pictures whose
// chunk puts them outside their buffer are skipped and counted, never read; and a source that
// goes away while it is being recorded ends the stream with an error instead of leaving the last
// picture to be repeated for ever.

#include "E2eSupport.h"
#include "platform/capture/wayland/PipeWireVideo.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <mutex>
#include <pipewire/pipewire.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace vantel;
using namespace vantel::platform;
using namespace std::chrono_literals;

namespace {

constexpr int kWidth = 64;
constexpr int kHeight = 48;
constexpr int kStride = kWidth * 4;

// A driving video source node (64x48 BGRx in shared memory) that sends one picture whenever
// asked, with the chunk offset and stride the test chooses.
class TestSource {
public:
    TestSource() {
        pw_init(nullptr, nullptr);
        m_loop = pw_thread_loop_new("test.source", nullptr);
        m_context = pw_context_new(pw_thread_loop_get_loop(m_loop), nullptr, 0);
        pw_thread_loop_start(m_loop);
        pw_thread_loop_lock(m_loop);
        m_core = pw_context_connect(m_context, nullptr, 0);
        if (m_core)
            connect();
        pw_thread_loop_unlock(m_loop);
    }
    ~TestSource() {
        pw_thread_loop_lock(m_loop);
        if (m_stream)
            pw_stream_destroy(m_stream);
        if (m_core)
            pw_core_disconnect(m_core);
        pw_thread_loop_unlock(m_loop);
        pw_thread_loop_stop(m_loop);
        pw_context_destroy(m_context);
        pw_thread_loop_destroy(m_loop);
    }

    bool connected() const { return m_stream != nullptr; }
    uint32_t node() {
        pw_thread_loop_lock(m_loop);
        const uint32_t id = m_stream ? pw_stream_get_node_id(m_stream) : SPA_ID_INVALID;
        pw_thread_loop_unlock(m_loop);
        return id;
    }

    // One picture, placed `offset` bytes into its buffer with rows `stride` bytes apart. False
    // when no buffer was free (the stream is still settling, or the consumer holds them all).
    bool trySend(uint32_t offset, int32_t stride) {
        pw_thread_loop_lock(m_loop);
        m_offset = offset;
        m_chunkStride = stride;
        // A driving stream runs the graph when it queues a picture.
        const bool sent = m_stream && fill();
        pw_thread_loop_unlock(m_loop);
        return sent;
    }
    // The node goes away, as the compositor's cast does when the desktop ends the share.
    void end() {
        pw_thread_loop_lock(m_loop);
        if (m_stream)
            pw_stream_destroy(m_stream);
        m_stream = nullptr;
        pw_thread_loop_unlock(m_loop);
    }

private:
    void connect() {
        m_stream = pw_stream_new(m_core, "vantel-test-source",
                                 pw_properties_new(PW_KEY_MEDIA_CLASS, "Video/Source",
                                                   PW_KEY_MEDIA_TYPE, "Video", nullptr));
        m_events.version = PW_VERSION_STREAM_EVENTS;
        m_events.param_changed = [](void* self, uint32_t id, const spa_pod* param) {
            static_cast<TestSource*>(self)->onParam(id, param);
        };
        pw_stream_add_listener(m_stream, &m_hook, &m_events, this);

        uint8_t storage[1024];
        spa_pod_builder b = SPA_POD_BUILDER_INIT(storage, sizeof(storage));
        spa_rectangle size = SPA_RECTANGLE(kWidth, kHeight);
        spa_fraction variable = SPA_FRACTION(0, 1);
        spa_fraction rate = SPA_FRACTION(30, 1);
        const spa_pod* params[] = {static_cast<const spa_pod*>(spa_pod_builder_add_object(
            &b, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType,
            SPA_POD_Id(SPA_MEDIA_TYPE_video), SPA_FORMAT_mediaSubtype,
            SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format,
            SPA_POD_Id(SPA_VIDEO_FORMAT_BGRx), SPA_FORMAT_VIDEO_size, SPA_POD_Rectangle(&size),
            SPA_FORMAT_VIDEO_framerate, SPA_POD_Fraction(&variable), SPA_FORMAT_VIDEO_maxFramerate,
            SPA_POD_Fraction(&rate)))};
        const auto flags = pw_stream_flags(PW_STREAM_FLAG_DRIVER | PW_STREAM_FLAG_MAP_BUFFERS);
        if (pw_stream_connect(m_stream, PW_DIRECTION_OUTPUT, PW_ID_ANY, flags, params, 1) < 0) {
            pw_stream_destroy(m_stream);
            m_stream = nullptr;
        }
    }

    void onParam(uint32_t id, const spa_pod* param) {
        if (!param || id != SPA_PARAM_Format)
            return;
        uint8_t storage[256];
        spa_pod_builder b = SPA_POD_BUILDER_INIT(storage, sizeof(storage));
        const spa_pod* params[] = {static_cast<const spa_pod*>(spa_pod_builder_add_object(
            &b, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_buffers,
            SPA_POD_CHOICE_RANGE_Int(4, 2, 8), SPA_PARAM_BUFFERS_blocks, SPA_POD_Int(1),
            SPA_PARAM_BUFFERS_size, SPA_POD_Int(kStride * kHeight), SPA_PARAM_BUFFERS_stride,
            SPA_POD_Int(kStride), SPA_PARAM_BUFFERS_dataType,
            SPA_POD_CHOICE_FLAGS_Int(1 << SPA_DATA_MemFd)))};
        pw_stream_update_params(m_stream, params, 1);
    }

    bool fill() {
        pw_buffer* buffer = pw_stream_dequeue_buffer(m_stream);
        if (!buffer)
            return false;
        spa_data& d = buffer->buffer->datas[0];
        if (d.data)
            std::memset(d.data, 0x80, d.maxsize);
        d.chunk->offset = m_offset;
        d.chunk->stride = m_chunkStride;
        d.chunk->size = kStride * kHeight;
        d.chunk->flags = SPA_CHUNK_FLAG_NONE;
        pw_stream_queue_buffer(m_stream, buffer);
        return true;
    }

    pw_thread_loop* m_loop = nullptr;
    pw_context* m_context = nullptr;
    pw_core* m_core = nullptr;
    pw_stream* m_stream = nullptr;
    spa_hook m_hook{};
    pw_stream_events m_events{};
    // With the loop locked.
    uint32_t m_offset = 0;
    int32_t m_chunkStride = kStride;
};

// A new connection to the session's PipeWire, as the portal hands one out.
int pipeWireConnection() {
    const char* dir = std::getenv("PIPEWIRE_RUNTIME_DIR");
    if (!dir)
        dir = std::getenv("XDG_RUNTIME_DIR");
    const std::string path = std::string(dir ? dir : "/run") + "/pipewire-0";
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

struct Received {
    std::atomic<int> frames{0};
    std::mutex lock;
    std::vector<std::string> errors;

    PipeWireVideo::FrameFn onFrame() {
        return [this](media::FramePtr) {
            ++frames;
        };
    }
    PipeWireVideo::ErrorFn onError() {
        return [this](const std::string& message) {
            std::lock_guard l(lock);
            errors.push_back(message);
        };
    }
    size_t errorCount() {
        std::lock_guard l(lock);
        return errors.size();
    }
};

bool settles(const std::function<bool()>& done, std::chrono::milliseconds limit = 5s) {
    return e2e::waitUntil(done, limit);
}

// Sends the picture until `seen` holds. A picture may be lost on the way, never read twice: the
// graph may still be settling when the consumer says it streams, and a picture queued while the
// graph is busy waits for the next one, which then hides it (only the newest is taken).
bool deliver(TestSource& source, uint32_t offset, int32_t stride,
             const std::function<bool()>& seen) {
    return settles(
        [&] { return seen() || (source.trySend(offset, stride) && settles(seen, 300ms)); });
}

} // namespace

TEST(WaylandPipeWireVideo, PicturesOutsideTheirBufferAreSkippedAndCounted) {
    TestSource source;
    ASSERT_TRUE(source.connected());
    ASSERT_TRUE(settles([&] { return source.node() != SPA_ID_INVALID; }));
    const int fd = pipeWireConnection();
    ASSERT_GE(fd, 0);
    Received received;
    PipeWireVideo video(fd, source.node(), 32, 24, 30, received.onFrame(), received.onError());
    ASSERT_NO_THROW(video.start(10.0));

    ASSERT_TRUE(deliver(source, 0, kStride, [&] { return received.frames > 0; }))
        << "a good picture is converted";
    const int good = received.frames;

    struct Placement {
        uint32_t offset;
        int32_t stride;
        const char* what;
    };
    const Placement hostile[] = {
        {1u << 30, kStride, "an offset a gigabyte past the buffer"},
        {0, 1 << 24, "rows 16 MiB apart"},
        {kStride, kStride, "a picture that starts one row in and so ends one row out"},
        {8, -1, "packed rows (no stride said) that start eight bytes in"},
        {0, 16, "rows that overlap"},
    };
    uint64_t unfit = 0;
    for (const Placement& p : hostile) {
        SCOPED_TRACE(p.what);
        ASSERT_TRUE(
            deliver(source, p.offset, p.stride, [&] { return video.unfitPictures() > unfit; }));
        unfit = video.unfitPictures();
        EXPECT_EQ(received.frames, good) << "not converted";
    }

    // Rows packed, as a producer that leaves the stride out says.
    ASSERT_TRUE(deliver(source, 0, 0, [&] { return received.frames > good; }));
    EXPECT_EQ(video.unfitPictures(), unfit);
    EXPECT_EQ(received.errorCount(), 0u) << "a bad picture is no failure of the stream";
    video.stop();
}

TEST(WaylandPipeWireVideo, ASourceThatGoesAwayEndsTheStreamWithAnError) {
    TestSource source;
    ASSERT_TRUE(source.connected());
    ASSERT_TRUE(settles([&] { return source.node() != SPA_ID_INVALID; }));
    const int fd = pipeWireConnection();
    ASSERT_GE(fd, 0);
    Received received;
    PipeWireVideo video(fd, source.node(), 32, 24, 30, received.onFrame(), received.onError());
    ASSERT_NO_THROW(video.start(10.0));
    ASSERT_TRUE(deliver(source, 0, kStride, [&] { return received.frames > 0; }));

    source.end();
    ASSERT_TRUE(settles([&] { return received.errorCount() == 1; }))
        << "the stream must not go on as if the source were still there";
    std::lock_guard l(received.lock);
    EXPECT_EQ(received.errors.front(), "The screen share ended.");
    video.stop();
}
