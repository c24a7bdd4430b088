#pragma once

// Key names from the keyboard layout in force. Shortcuts are stored as this program's portable
// key codes (8 = the key labelled C on an ANSI keyboard), which name physical key positions; a
// fixed table turns each into its evdev code (xkb keycode = evdev + 8), and the layout says what
// that key types. The layout is an interface so that tests can pick one (or none) on purpose.
//
// Threads: a KeyboardLayout object is immutable after creation and may be read from any thread;
// `current()` opens its own X connection and may be called from any thread.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

struct xkb_keymap;

namespace vantel {

// The evdev code of the physical key that a stored key code names; no value for codes that name
// no key.
std::optional<std::uint32_t> evdevCodeForKeyCode(std::uint32_t keyCode);

// The reverse: the stored key code of a physical key; no value for keys the table lacks.
std::optional<std::uint32_t> keyCodeForEvdevCode(std::uint32_t evdevCode);

class KeyboardLayout {
public:
    virtual ~KeyboardLayout() = default;

    // UTF-8 text of the key's first shift level in the active layout group, as the layout
    // writes it (not upper-cased). Dead keys give their spacing accent. Empty when the key types
    // nothing (modifiers, keypad navigation, keys absent from the layout).
    virtual std::string levelOneText(std::uint32_t evdevCode) const = 0;

    // The layout in force now, looked up afresh from the source chosen by forceSource():
    // `automatic`, the X server's keymap and active group when an X display can be opened, else
    // the keymap named by the XKB_DEFAULT_* variables (xkbcommon's built-in default when they are
    // unset); `x11` or `names` only that one; `none` no layout. Null when none can be had.
    static std::unique_ptr<KeyboardLayout> current();

    enum class Source { automatic, x11, names, none };
    // The source current() reads for the whole process from now on; `automatic` until the
    // program (or a test) forces another. Any thread.
    static void forceSource(Source source);
};

// RMLVO names of an xkb keymap; empty fields take the XKB_DEFAULT_* variables, then xkbcommon's
// defaults.
struct XkbNames {
    std::string rules;
    std::string model;
    std::string layout;
    std::string variant;
    std::string options;
};

// A keymap compiled by xkbcommon, with the layout group that counts as active.
class XkbKeyboardLayout final : public KeyboardLayout {
public:
    // Null when the keymap cannot be compiled (unknown layout, no xkb data).
    static std::unique_ptr<XkbKeyboardLayout> fromNames(const XkbNames& names);
    // The core keyboard of the X display named by DISPLAY; null when there is no display or it
    // lacks the XKB extension.
    static std::unique_ptr<XkbKeyboardLayout> fromX11();

    ~XkbKeyboardLayout() override;
    XkbKeyboardLayout(const XkbKeyboardLayout&) = delete;
    XkbKeyboardLayout& operator=(const XkbKeyboardLayout&) = delete;

    std::string levelOneText(std::uint32_t evdevCode) const override;

private:
    // Takes ownership of the keymap reference.
    XkbKeyboardLayout(xkb_keymap* keymap, std::uint32_t group);

    xkb_keymap* m_keymap;
    std::uint32_t m_group;
};

} // namespace vantel
