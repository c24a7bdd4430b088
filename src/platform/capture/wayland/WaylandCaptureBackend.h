#pragma once

// Capture on a Wayland desktop through the screen-cast portal and PipeWire. There is one display:
// the monitor the portal shares, which the user picks in the desktop's dialog. That choice is kept
// as the portal's restore token in the permission store, so later casts start without a dialog;
// without a kept choice nothing is cast until requestPermission() asked the user.
//
// displays() opens the cast that the next createStream() uses (its size is the display's), so a
// run costs one portal handshake. A cast opened for a different cursor setting is replaced; one
// that no stream takes (the start failed in between) is closed by releaseDisplays().
//
// Threads: any. The portal is never asked, and no cast closed, while m_lock is held: an answer
// may take as long as the user needs.

#include "platform/capture/CaptureBackend.h"
#include "platform/capture/wayland/ScreenCastPortal.h"

#include <chrono>
#include <memory>
#include <mutex>

namespace vantel::platform {

class WaylandCaptureBackend : public CaptureBackend {
public:
    ~WaylandCaptureBackend() override;

    bool hasPermission() override;
    bool requestPermission() override;
    void setPermissionStore(PermissionStore store) override;
    std::vector<CaptureDisplay> displays() override;
    // Closes the cast displays() opened.
    void releaseDisplays() override;
    std::optional<uint32_t> mainDisplay() override { return kDisplayId; }
    std::unique_ptr<CaptureStream> createStream(const StreamConfig& config,
                                                SampleHandler& handler) override;

    static constexpr uint32_t kDisplayId = 1;

private:
    // Opens a cast with the kept choice and keeps the new one. Throws PermissionDenied (and
    // forgets the choice) when the user refused, or without a kept choice unless `mayAsk`.
    std::unique_ptr<ScreenCast> openCast(bool showCursor, bool mayAsk,
                                         std::chrono::milliseconds answerTimeout);
    std::string keptToken();
    void keep(const std::string& token);
    std::unique_ptr<ScreenCast> takePending(bool showCursor);

    std::mutex m_lock;
    // The following fields are protected by m_lock.
    PermissionStore m_store;
    std::string m_memoryToken; // without a store
    std::unique_ptr<ScreenCast> m_pending;
    std::chrono::steady_clock::time_point m_pendingSince;
    bool m_cursorHint = false;
};

} // namespace vantel::platform
