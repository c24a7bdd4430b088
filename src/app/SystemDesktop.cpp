#include "SystemDesktop.h"

#include "GlobalHotkey.h"
#include "Toast.h"
#include "engine/CaptureController.h"
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

SystemDesktop::SystemDesktop(Toast& toast, CaptureController& capture, ToastSeen toastShown)
    : m_toast(toast)
    , m_capture(capture)
    , m_toastShown(std::move(toastShown)) {}

void SystemDesktop::toast(const QString& title, const QString& detail, ToastKind kind) {
    if (m_toastShown)
        m_toastShown(title, detail, kind == ToastKind::success);
    m_toast.show(title, detail, kind);
}

void SystemDesktop::playSaveSound() {
    platform::EventSound::play("screen-capture");
}

std::unique_ptr<HotkeyBinding> SystemDesktop::bindHotkey(const Hotkey& hotkey,
                                                         std::function<void()> action) {
    return std::make_unique<X11Binding>(hotkey, std::move(action));
}

bool SystemDesktop::hasPermission() {
    return m_capture.permitted();
}

} // namespace vantel
