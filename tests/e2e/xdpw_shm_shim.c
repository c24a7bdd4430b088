/* Test-only LD_PRELOAD library for xdg-desktop-portal-wlr 0.7 on a GPU-less compositor.
 *
 * That portal backend refuses to cast unless the compositor's screencopy frame announces a
 * DMA-BUF format, which a pixman-rendered sway never does; it then fails every Start with
 * "unable to receive a valid format from wlr_screencopy". This library wraps the frame's
 * listener: it forwards every event and, when a frame ends its buffer announcements without a
 * linux_dmabuf event, first announces one with the shared-memory buffer's size and the DRM
 * fourcc of its format. Without a dmabuf global the backend then offers PipeWire shared memory
 * only, which is what the session wants. Loaded into the portal backend alone, never into the
 * program under test. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <pthread.h>
#include <stdint.h>
#include <string.h>
#include <wayland-client-core.h>

struct frame_listener {
    void (*buffer)(void *, struct wl_proxy *, uint32_t, uint32_t, uint32_t, uint32_t);
    void (*flags)(void *, struct wl_proxy *, uint32_t);
    void (*ready)(void *, struct wl_proxy *, uint32_t, uint32_t, uint32_t);
    void (*failed)(void *, struct wl_proxy *);
    void (*damage)(void *, struct wl_proxy *, uint32_t, uint32_t, uint32_t, uint32_t);
    void (*linux_dmabuf)(void *, struct wl_proxy *, uint32_t, uint32_t, uint32_t);
    void (*buffer_done)(void *, struct wl_proxy *);
};

struct frame {
    struct wl_proxy *proxy;
    const struct frame_listener *inner;
    uint32_t format, width, height;
    int have_shm, have_dmabuf;
};

enum { max_frames = 64 };
static struct frame frames[max_frames];
static pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;

static struct frame *find(struct wl_proxy *proxy) {
    struct frame *found = NULL;
    pthread_mutex_lock(&lock);
    for (int i = 0; i < max_frames && !found; ++i)
        if (frames[i].proxy == proxy)
            found = &frames[i];
    pthread_mutex_unlock(&lock);
    return found;
}

static void forget(struct frame *f) {
    pthread_mutex_lock(&lock);
    memset(f, 0, sizeof *f);
    pthread_mutex_unlock(&lock);
}

static uint32_t drm_fourcc(uint32_t shm_format) {
    if (shm_format == 0)
        return 0x34325241; /* AR24 */
    if (shm_format == 1)
        return 0x34325258; /* XR24 */
    return shm_format;     /* the other shm codes are fourccs already */
}

static void on_buffer(void *d, struct wl_proxy *p, uint32_t fmt, uint32_t w, uint32_t h,
                      uint32_t stride) {
    struct frame *f = find(p);
    f->format = fmt, f->width = w, f->height = h, f->have_shm = 1;
    if (f->inner->buffer)
        f->inner->buffer(d, p, fmt, w, h, stride);
}

static void on_flags(void *d, struct wl_proxy *p, uint32_t flags) {
    struct frame *f = find(p);
    if (f->inner->flags)
        f->inner->flags(d, p, flags);
}

static void on_ready(void *d, struct wl_proxy *p, uint32_t hi, uint32_t lo, uint32_t ns) {
    struct frame *f = find(p);
    const struct frame_listener *inner = f->inner;
    forget(f);
    if (inner->ready)
        inner->ready(d, p, hi, lo, ns);
}

static void on_failed(void *d, struct wl_proxy *p) {
    struct frame *f = find(p);
    const struct frame_listener *inner = f->inner;
    forget(f);
    if (inner->failed)
        inner->failed(d, p);
}

static void on_damage(void *d, struct wl_proxy *p, uint32_t x, uint32_t y, uint32_t w,
                      uint32_t h) {
    struct frame *f = find(p);
    if (f->inner->damage)
        f->inner->damage(d, p, x, y, w, h);
}

static void on_linux_dmabuf(void *d, struct wl_proxy *p, uint32_t fmt, uint32_t w, uint32_t h) {
    struct frame *f = find(p);
    f->have_dmabuf = 1;
    if (f->inner->linux_dmabuf)
        f->inner->linux_dmabuf(d, p, fmt, w, h);
}

static void on_buffer_done(void *d, struct wl_proxy *p) {
    struct frame *f = find(p);
    if (f->have_shm && !f->have_dmabuf && f->inner->linux_dmabuf)
        f->inner->linux_dmabuf(d, p, drm_fourcc(f->format), f->width, f->height);
    if (f->inner->buffer_done)
        f->inner->buffer_done(d, p);
}

static const struct frame_listener wrapper = {on_buffer, on_flags,        on_ready,      on_failed,
                                              on_damage, on_linux_dmabuf, on_buffer_done};

int wl_proxy_add_listener(struct wl_proxy *proxy, void (**implementation)(void), void *data) {
    static int (*real)(struct wl_proxy *, void (**)(void), void *);
    if (!real)
        real = (int (*)(struct wl_proxy *, void (**)(void), void *))dlsym(RTLD_NEXT,
                                                                          "wl_proxy_add_listener");
    if (strcmp(wl_proxy_get_class(proxy), "zwlr_screencopy_frame_v1") != 0 ||
        wl_proxy_get_version(proxy) < 3)
        return real(proxy, implementation, data);
    /* A frame destroyed before its last event leaves its slot behind: a new proxy at the same
     * address takes it over, and when all are taken the oldest is reused. */
    static unsigned next;
    pthread_mutex_lock(&lock);
    struct frame *slot = NULL;
    for (int i = 0; i < max_frames && !slot; ++i)
        if (frames[i].proxy == proxy)
            slot = &frames[i];
    for (int i = 0; i < max_frames && !slot; ++i)
        if (!frames[i].proxy)
            slot = &frames[i];
    if (!slot)
        slot = &frames[next++ % max_frames];
    memset(slot, 0, sizeof *slot);
    slot->proxy = proxy;
    slot->inner = (const struct frame_listener *)implementation;
    pthread_mutex_unlock(&lock);
    return real(proxy, (void (**)(void))&wrapper, data);
}
