#pragma once

// One system-wide shortcut: registered when the object is made, released when it is destroyed.
// A press runs the action later on the main thread, never inside the event handler, and also
// while another program (a game) has the focus. The owner replaces a shortcut by destroying the
// old object and making a new one.
//
// Every shortcut gets an id from a process-wide counter that starts at 1 and is never reset or
// reused; the action table maps live ids to actions, so a press that arrives for a shortcut
// destroyed meanwhile does nothing.
//
// Thread: main thread only (creation, destruction, presses, refusals, the action table and the
// counter).

#include "platform/hotkeys/HotkeyGrabber.h"
#include "settings/Hotkey.h"

#include <cstdint>
#include <functional>

namespace vantel {

class GlobalHotkey {
public:
    GlobalHotkey(const Hotkey& hotkey, std::function<void()> action);
    ~GlobalHotkey();
    GlobalHotkey(const GlobalHotkey&) = delete;
    GlobalHotkey& operator=(const GlobalHotkey&) = delete;

    // False when the shortcut could not be had: the desktop refused it (another program holds
    // the keys, or, where the desktop answers later, the user did not allow it), the key code
    // names no key, or there is no desktop to ask.
    bool registered() const;
    // Runs `refused` on the main thread when a desktop that answers later (the Wayland desktop
    // may ask the user first) refuses the shortcut after it was registered. Not run after this
    // object is destroyed.
    void onRefused(std::function<void()> refused);
    std::uint32_t id() const { return m_id; }
    Hotkey hotkey() const { return m_hotkey; }

    // True where the desktop gives programs no global shortcuts (a Wayland desktop without the
    // global shortcuts portal), so the user binds `vantel-record save` in the desktop's keyboard
    // settings instead. May turn true a moment after the first shortcut was made.
    static bool desktopBindingNeeded();

    // The grabber the first shortcut of the process makes (the session's unless the program
    // forces one); set before it.
    static void useGrabber(platform::HotkeyConfig config);

private:
    Hotkey m_hotkey;
    std::uint32_t m_id;
    bool m_registered = false;
};

} // namespace vantel
