#include "DesktopShell.h"

#include "GlobalHotkey.h"
#include "Toast.h"
#include "engine/Capture.h"
#include "platform/freedesktop/EventSound.h"

namespace vantel {

namespace {
class X11Binding : public HotkeyBinding {
public:
    X11Binding(const Hotkey& hotkey, std::function<void()> action)
        : m_hotkey(hotkey, std::move(action)) {}
    bool registered() const override { return m_hotkey.registered(); }
    void onRefused(std::function<void()> refused) override {
        m_hotkey.onRefused(std::move(refused));
    }

private:
    GlobalHotkey m_hotkey;
};
} // namespace

DesktopShell::DesktopShell(ToastSeen toastShown)
    : m_toastShown(std::move(toastShown)) {}

void DesktopShell::toast(const QString& title, const QString& detail, bool ok) {
    if (m_toastShown)
        m_toastShown(title, detail, ok);
    Toast::shared().show(title, detail, ok);
}

void DesktopShell::playSaveSound() {
    platform::EventSound::play("screen-capture");
}

std::unique_ptr<HotkeyBinding> DesktopShell::bindHotkey(const Hotkey& hotkey,
                                                        std::function<void()> action) {
    return std::make_unique<X11Binding>(hotkey, std::move(action));
}

bool DesktopShell::hasPermission() {
    return Capture::hasPermission();
}

} // namespace vantel
