#include "platform/hotkeys/HotkeyGrabber.h"
#include "platform/hotkeys/wayland/PortalHotkeyGrabber.h"
#include "platform/hotkeys/x11/X11HotkeyGrabber.h"

#include <QByteArray>
#include <stdexcept>

namespace vantel::platform {

namespace {

// Without a display server nothing can be grabbed; saving stays possible through the menu and
// the command line.
class NullHotkeyGrabber : public HotkeyGrabber {
public:
    using HotkeyGrabber::HotkeyGrabber;
    bool grab(const KeyChord&) override { return false; }
    void release(const KeyChord&) override {}
};

} // namespace

std::unique_ptr<HotkeyGrabber> createHotkeyGrabber(const HotkeyConfig& config, QObject* parent) {
    using Choice = HotkeyConfig::Choice;
    if (config.choice == Choice::null)
        return std::make_unique<NullHotkeyGrabber>(parent);
    // An X display on a Wayland desktop is Xwayland's: its key grabs see only keys typed into X
    // windows.
    if (config.choice == Choice::portal ||
        (config.choice == Choice::automatic && !qgetenv("WAYLAND_DISPLAY").isEmpty()))
        return std::make_unique<PortalHotkeyGrabber>(config.portalService, parent);
    try {
        return std::make_unique<X11HotkeyGrabber>(parent);
    } catch (const std::runtime_error&) {
        return std::make_unique<NullHotkeyGrabber>(parent);
    }
}

} // namespace vantel::platform
