#include "DesktopShell.h"

#include "GlobalHotkey.h"
#include "Toast.h"
#include "engine/Capture.h"
#include "platform/freedesktop/EventSound.h"

#include <QFile>
#include <QTextStream>

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

DesktopShell::DesktopShell()
    : m_toastLog(qEnvironmentVariable("VANTEL_TOAST_LOG")) {}

void DesktopShell::toast(const QString& title, const QString& detail, bool ok) {
    if (!m_toastLog.isEmpty()) {
        QFile log(m_toastLog);
        if (log.open(QIODevice::Append | QIODevice::Text))
            QTextStream(&log) << title << '\t' << detail << '\t' << (ok ? "ok" : "problem") << '\n';
    }
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
