#pragma once

// The real desktop behind the controller: toasts, the "clip saved" sound, the X11 global
// shortcut and the capture permission.
//
// Threads: main thread.

#include "ControllerDesktop.h"

#include <functional>

namespace vantel {

class CaptureController;
class Toast;

class SystemDesktop : public ControllerDesktop {
public:
    using ToastSeen = std::function<void(const QString& title, const QString& detail, bool ok)>;
    // Shows toasts on `toast` and asks `capture` for the permission; both must outlive it.
    // `toastShown` (may be empty) hears of every toast, as the test build's hooks do.
    SystemDesktop(Toast& toast, CaptureController& capture, ToastSeen toastShown = {});
    void toast(const QString& title, const QString& detail, ToastKind kind) override;
    void playSaveSound() override;
    std::unique_ptr<HotkeyBinding> bindHotkey(const Hotkey& hotkey,
                                              std::function<void()> action) override;
    bool hasPermission() override;

private:
    Toast& m_toast;
    CaptureController& m_capture;
    ToastSeen m_toastShown;
};

} // namespace vantel
