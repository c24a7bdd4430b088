#pragma once

// Without a display server nothing can be grabbed; saving stays possible through the menu and
// the command line.

#include "platform/hotkeys/HotkeyGrabber.h"

namespace vantel::platform {

class NullHotkeyGrabber : public HotkeyGrabber {
    Q_OBJECT
public:
    using HotkeyGrabber::HotkeyGrabber;
    bool grab(const KeyChord&) override { return false; }
    void release(const KeyChord&) override {}
};

} // namespace vantel::platform
