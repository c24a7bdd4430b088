#pragma once

// The real desktop behind the controller: toasts, the "clip saved" sound, the X11 global
// shortcut and the capture permission.
//
// VANTEL_TOAST_LOG, when set, names a file to which every toast is appended as one line
// "title<TAB>detail<TAB>ok|problem", so end-to-end tests can tell which toasts were shown.
//
// Threads: main thread.

#include "ShellServices.h"

namespace vantel {

class DesktopShell : public ShellServices {
public:
    DesktopShell();
    void toast(const QString& title, const QString& detail, bool ok) override;
    void playSaveSound() override;
    std::unique_ptr<HotkeyBinding> bindHotkey(const Hotkey& hotkey,
                                              std::function<void()> action) override;
    bool hasPermission() override;

private:
    QString m_toastLog;
};

} // namespace vantel
