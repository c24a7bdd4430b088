#pragma once

// The global save shortcut: this program's own portable key code (a physical key position,
// 8 = the C key, 49 = Space) and modifier mask. These numbers are what the settings store keeps,
// so a shortcut means the same key on every machine and keyboard layout; the text shown for it
// follows the keyboard layout in force.

#include <QString>
#include <Qt>
#include <cstdint>

namespace vantel {

class KeyboardLayout;

struct Hotkey {
    // The stored modifier bits; no other bit is used.
    static constexpr std::uint32_t kSuper = 0x0100;
    static constexpr std::uint32_t kShift = 0x0200;
    static constexpr std::uint32_t kAlt = 0x0800;
    static constexpr std::uint32_t kCtrl = 0x1000;

    std::uint32_t keyCode = 0;
    std::uint32_t modifiers = 0;

    // Alt+Shift+C.
    static Hotkey defaultSave() { return {8, kShift | kAlt}; }

    friend bool operator==(const Hotkey&, const Hotkey&) = default;

    // "Ctrl+", "Alt+", "Shift+", "Super+" for the set bits, in that order, then the key's name.
    // The layout is consulted only for keys outside the fixed table; the first form looks up the
    // layout in force (see KeyboardLayout::current), the second uses the one given (null: none).
    QString display() const;
    QString display(const KeyboardLayout* layout) const;

    // Function, navigation and editing keys have fixed names ("F1", "Space", "Return", "Left",
    // ...). Any other key is named by what it types on the layout, upper-cased: "C" for code 8 on
    // a US layout, "A" for code 12 on a French one. "?" when no layout can be had; empty when
    // the key types nothing or the code names no key.
    static QString keyName(std::uint32_t keyCode);
    static QString keyName(std::uint32_t keyCode, const KeyboardLayout* layout);

    // The stored mask of Qt modifiers: Ctrl, Alt, Shift and Meta (Super) map to their bits; keypad,
    // group switch and the rest are dropped. On Linux Qt::ControlModifier is the Ctrl key and
    // Qt::MetaModifier the Super key.
    static std::uint32_t carbonFlags(Qt::KeyboardModifiers modifiers);
};

} // namespace vantel
