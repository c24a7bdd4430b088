// The hotkey family's factory table: the grabbers this build has, in the order
// a session is matched against them.

#include "platform/hotkeys/NullHotkeyGrabber.h"

#if HAVE_WAYLAND
#include "platform/hotkeys/wayland/PortalHotkeyGrabber.h"
#endif
#if HAVE_X11
#include "platform/hotkeys/x11/X11HotkeyGrabber.h"
#endif

#include <QByteArray>
#include <stdexcept>

namespace vantel::platform {

namespace {

using Choice = HotkeyConfig::Choice;

template <typename Grabber>
std::unique_ptr<HotkeyGrabber> make(const HotkeyConfig&, QObject* parent) {
    return std::make_unique<Grabber>(parent);
}

#if HAVE_WAYLAND
std::unique_ptr<HotkeyGrabber> makePortal(const HotkeyConfig& config, QObject* parent) {
    return std::make_unique<PortalHotkeyGrabber>(config.portalService, parent);
}
#endif

struct Entry {
    Choice choice;   // the choice that names it
    bool (*suits)(); // whether to try it when the choice is `automatic`
    // Throws std::runtime_error when the desktop cannot be reached.
    std::unique_ptr<HotkeyGrabber> (*create)(const HotkeyConfig& config, QObject* parent);
};

// An X display on a Wayland desktop is Xwayland's: its key grabs see only keys
// typed into X windows. The portal first, then.
const Entry kGrabbers[] = {
#if HAVE_WAYLAND
    {Choice::portal, [] { return !qgetenv("WAYLAND_DISPLAY").isEmpty(); }, makePortal},
#endif
#if HAVE_X11
    {Choice::x11, [] { return true; }, make<X11HotkeyGrabber>},
#endif
    {Choice::null, [] { return true; }, make<NullHotkeyGrabber>},
};

const Entry* named(Choice choice) {
    for (const Entry& entry : kGrabbers)
        if (entry.choice == choice)
            return &entry;
    return nullptr;
}

std::unique_ptr<HotkeyGrabber> tryCreate(const Entry& entry, const HotkeyConfig& config,
                                         QObject* parent) {
    try {
        return entry.create(config, parent);
    } catch (const std::runtime_error&) {
        return nullptr;
    }
}

} // namespace

// A grabber that cannot reach its desktop, named or not, leaves the null one; a
// choice of a grabber this build lacks is taken as `automatic`.
std::unique_ptr<HotkeyGrabber> createHotkeyGrabber(const HotkeyConfig& config, QObject* parent) {
    std::unique_ptr<HotkeyGrabber> grabber;
    if (const Entry* forced = named(config.choice))
        grabber = tryCreate(*forced, config, parent);
    else
        for (const Entry& entry : kGrabbers)
            if (!grabber && entry.suits())
                grabber = tryCreate(entry, config, parent);
    return grabber ? std::move(grabber) : std::make_unique<NullHotkeyGrabber>(parent);
}

} // namespace vantel::platform
