#pragma once

// A client of the desktop's screen-cast portal (org.freedesktop.portal.ScreenCast) over the
// session bus: it opens a cast of one monitor, with the cursor drawn in or left out, and hands
// out the PipeWire remote that carries its pictures.
//
// The portal may show the desktop's own dialog, where the user picks what to share and whether
// it may be shared again later; a restore token from an earlier cast skips that dialog while the
// portal still honours it (a refused or expired token makes the portal ask again). Every
// successful start hands out a new token, which replaces the old one.
//
// Threads: any thread that is a QThread (the main thread, a Qt pool thread), with a
// QCoreApplication alive. open() blocks that thread and runs a local event loop on it while it
// waits for the portal's answers. A ScreenCast may be closed from any thread.
// Errors: PermissionDenied when the user refused, std::runtime_error with a readable message
// for anything else.

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace vantel::platform {

struct ScreenCastRequest {
    bool showCursor = false;
    // Empty: the portal asks the user.
    std::string restoreToken;
    // How long the user may take to answer the portal's dialog.
    std::chrono::milliseconds answerTimeout{std::chrono::minutes(2)};
};

// One started cast: its portal session stays open while this object lives.
class ScreenCast {
public:
    ScreenCast(std::string session, uint32_t node, int width, int height, std::string token,
               bool showCursor);
    ~ScreenCast();
    ScreenCast(const ScreenCast&) = delete;
    ScreenCast& operator=(const ScreenCast&) = delete;

    uint32_t node() const { return m_node; }
    // The monitor's size as the portal reports it; 0 when it did not say.
    int width() const { return m_width; }
    int height() const { return m_height; }
    // The token that restores this choice next time; empty when the portal keeps none.
    const std::string& restoreToken() const { return m_token; }
    bool showsCursor() const { return m_showCursor; }

    // A new connection to the PipeWire remote that carries this cast's stream, owned by the
    // caller. Throws std::runtime_error.
    int openPipeWireRemote() const;

private:
    std::string m_session;
    uint32_t m_node;
    int m_width;
    int m_height;
    std::string m_token;
    bool m_showCursor;
};

namespace ScreenCastPortal {

// The portal's ScreenCast version, or nothing when no portal answers within a second.
std::optional<uint32_t> version();
// Whether the portal can keep a choice for later casts (version 4 and up).
inline bool keepsChoices(uint32_t version) {
    return version >= 4;
}
// Opens a cast of one monitor. Blocks until the portal (and perhaps the user) answered.
std::unique_ptr<ScreenCast> open(const ScreenCastRequest& request);

} // namespace ScreenCastPortal

} // namespace vantel::platform
