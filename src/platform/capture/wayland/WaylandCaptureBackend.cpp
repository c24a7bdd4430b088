#include "platform/capture/wayland/WaylandCaptureBackend.h"

#include "platform/capture/wayland/WaylandCaptureStream.h"

namespace vantel::platform {

namespace {

using namespace std::chrono_literals;

// A cast left by displays() without a stream after it is stale after this long: the next run
// asks the portal afresh.
constexpr auto kPendingLifetime = 10s;
// A capture start waits this long for an answer the portal should give without a dialog; the
// user's own request for permission waits as long as the user needs.
constexpr auto kStartAnswerTimeout = 2min;
constexpr auto kRequestAnswerTimeout = 30min;

} // namespace

WaylandCaptureBackend::~WaylandCaptureBackend() = default;

void WaylandCaptureBackend::setPermissionStore(PermissionStore store) {
    std::lock_guard lock(m_lock);
    m_store = std::move(store);
}

std::string WaylandCaptureBackend::keptToken() {
    std::lock_guard lock(m_lock);
    return m_store.load ? m_store.load() : m_memoryToken;
}

void WaylandCaptureBackend::keep(const std::string& token) {
    std::lock_guard lock(m_lock);
    if (m_store.save)
        m_store.save(token);
    else
        m_memoryToken = token;
}

bool WaylandCaptureBackend::hasPermission() {
    const std::optional<uint32_t> portal = ScreenCastPortal::version();
    if (!portal)
        return false;
    // A portal that keeps no choice asks at every cast: nothing to wait for.
    return !ScreenCastPortal::keepsChoices(*portal) || !keptToken().empty();
}

bool WaylandCaptureBackend::requestPermission() {
    bool showCursor;
    {
        std::lock_guard lock(m_lock);
        showCursor = m_cursorHint;
    }
    try {
        // Only the answer is wanted: the cast closes at once, so the desktop shows no
        // "sharing" indicator until recording really starts.
        openCast(showCursor, true, kRequestAnswerTimeout);
    } catch (const std::runtime_error&) {
    }
    return hasPermission();
}

std::unique_ptr<ScreenCast> WaylandCaptureBackend::openCast(bool showCursor, bool mayAsk,
                                                            std::chrono::milliseconds timeout) {
    const std::string token = keptToken();
    const std::optional<uint32_t> portal = ScreenCastPortal::version();
    if (token.empty() && !mayAsk && portal && ScreenCastPortal::keepsChoices(*portal))
        throw PermissionDenied("Screen recording has not been allowed yet.");
    std::unique_ptr<ScreenCast> cast;
    try {
        cast = ScreenCastPortal::open(ScreenCastRequest{showCursor, token, timeout});
    } catch (const PermissionDenied&) {
        keep(std::string());
        throw;
    }
    if (!cast->restoreToken().empty())
        keep(cast->restoreToken());
    return cast;
}

std::unique_ptr<ScreenCast> WaylandCaptureBackend::takePending(bool showCursor) {
    std::unique_ptr<ScreenCast> cast;
    {
        std::lock_guard lock(m_lock);
        m_cursorHint = showCursor;
        cast = std::move(m_pending);
        const bool fresh = std::chrono::steady_clock::now() - m_pendingSince < kPendingLifetime;
        if (!cast || (fresh && cast->showsCursor() == showCursor))
            return cast;
    }
    return nullptr; // the stale cast closes here, outside the lock
}

std::vector<CaptureDisplay> WaylandCaptureBackend::displays() {
    bool showCursor;
    {
        std::lock_guard lock(m_lock);
        showCursor = m_cursorHint;
    }
    std::unique_ptr<ScreenCast> cast = takePending(showCursor);
    if (!cast)
        cast = openCast(showCursor, false, kStartAnswerTimeout);
    // A portal that does not say the size: a common one; the stream scales what it gets.
    CaptureDisplay display{kDisplayId, 0, 0, cast->width(), cast->height(), 1.0};
    if (display.width <= 0 || display.height <= 0)
        display.width = 1920, display.height = 1080;
    {
        std::lock_guard lock(m_lock);
        std::swap(m_pending, cast);
        m_pendingSince = std::chrono::steady_clock::now();
    }
    return {display}; // a cast another caller left meanwhile closes here, outside the lock
}

void WaylandCaptureBackend::releaseDisplays() {
    std::unique_ptr<ScreenCast> cast;
    {
        std::lock_guard lock(m_lock);
        cast = std::move(m_pending);
    }
    // Closed here, outside the lock: closing talks to the portal.
}

std::unique_ptr<CaptureStream> WaylandCaptureBackend::createStream(const StreamConfig& config,
                                                                   SampleHandler& handler) {
    std::unique_ptr<ScreenCast> cast = takePending(config.showCursor);
    if (!cast)
        cast = openCast(config.showCursor, false, kStartAnswerTimeout);
    return std::make_unique<WaylandCaptureStream>(std::move(cast), config, handler);
}

} // namespace vantel::platform
