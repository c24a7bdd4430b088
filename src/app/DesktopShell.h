#pragma once

// The real desktop behind the controller: toasts, the "clip saved" sound, the X11 global
// shortcut and the capture permission.
//
// Threads: main thread.

#include "ShellServices.h"

#include <functional>

namespace vantel {

class DesktopShell : public ShellServices {
public:
    using ToastSeen = std::function<void(const QString& title, const QString& detail, bool ok)>;
    // `toastShown` (may be empty) hears of every toast, as the test build's hooks do.
    explicit DesktopShell(ToastSeen toastShown = {});
    void toast(const QString& title, const QString& detail, bool ok) override;
    void playSaveSound() override;
    std::unique_ptr<HotkeyBinding> bindHotkey(const Hotkey& hotkey,
                                              std::function<void()> action) override;
    bool hasPermission() override;

private:
    ToastSeen m_toastShown;
};

} // namespace vantel
