#pragma once

// What the application controller needs of the desktop around it: toasts, the "clip saved"
// sound, the global save shortcut and the screen-recording permission. The program passes the
// real desktop services; the controller's tests pass their own recorder of these calls.
//
// Threads: main thread only.

#include "ToastKind.h"
#include "settings/Hotkey.h"

#include <QString>
#include <functional>
#include <memory>

namespace vantel {

// A registered global shortcut; destroying it releases the keys.
class HotkeyBinding {
public:
    virtual ~HotkeyBinding() = default;
    // False when the display server refused the keys (another program holds them).
    virtual bool registered() const = 0;
    // Runs `refused` when a desktop that answers later (Wayland's, which may ask the user) refuses
    // the keys after registered() said true; registered() says false from then on.
    virtual void onRefused(std::function<void()> refused) = 0;
};

class ControllerDesktop {
public:
    virtual ~ControllerDesktop() = default;
    virtual void toast(const QString& title, const QString& detail, ToastKind kind) = 0;
    virtual void playSaveSound() = 0;
    // `action` runs on the main thread, outside the key handler, for every press.
    virtual std::unique_ptr<HotkeyBinding> bindHotkey(const Hotkey& hotkey,
                                                      std::function<void()> action) = 0;
    virtual bool hasPermission() = 0;
};

} // namespace vantel
