#include "Hotkey.h"

#include "KeyboardLayout.h"

#include <optional>
#include <string>
#include <utility>

namespace vantel {

namespace {

constexpr std::pair<std::uint32_t, const char*> kFixedNames[] = {
    {122, "F1"},   {120, "F2"},       {99, "F3"},    {118, "F4"},   {96, "F5"},     {97, "F6"},
    {98, "F7"},    {100, "F8"},       {101, "F9"},   {109, "F10"},  {103, "F11"},   {111, "F12"},
    {105, "F13"},  {107, "F14"},      {113, "F15"},  {49, "Space"}, {36, "Return"}, {48, "Tab"},
    {53, "Esc"},   {51, "Backspace"}, {115, "Home"}, {119, "End"},  {116, "PgUp"},  {121, "PgDown"},
    {123, "Left"}, {124, "Right"},    {126, "Up"},   {125, "Down"},
};

constexpr std::pair<std::uint32_t, const char*> kModifierPrefixes[] = {
    {Hotkey::kCtrl, "Ctrl+"},
    {Hotkey::kAlt, "Alt+"},
    {Hotkey::kShift, "Shift+"},
    {Hotkey::kSuper, "Super+"},
};

std::optional<QString> fixedName(std::uint32_t keyCode) {
    for (const auto& [code, name] : kFixedNames) {
        if (code == keyCode)
            return QString::fromLatin1(name);
    }
    return std::nullopt;
}

QString modifierPrefix(std::uint32_t modifiers) {
    QString prefix;
    for (const auto& [bit, text] : kModifierPrefixes) {
        if (modifiers & bit)
            prefix += QLatin1String(text);
    }
    return prefix;
}

} // namespace

QString Hotkey::display() const {
    return modifierPrefix(modifiers) + keyName(keyCode);
}

QString Hotkey::display(const KeyboardLayout* layout) const {
    return modifierPrefix(modifiers) + keyName(keyCode, layout);
}

QString Hotkey::keyName(std::uint32_t keyCode) {
    if (auto name = fixedName(keyCode))
        return *name;
    return keyName(keyCode, KeyboardLayout::current().get());
}

QString Hotkey::keyName(std::uint32_t keyCode, const KeyboardLayout* layout) {
    if (auto name = fixedName(keyCode))
        return *name;
    if (!layout)
        return QStringLiteral("?");
    const std::optional<std::uint32_t> evdev = evdevCodeForKeyCode(keyCode);
    if (!evdev)
        return {};
    return QString::fromStdString(layout->levelOneText(*evdev)).toUpper();
}

std::uint32_t Hotkey::carbonFlags(Qt::KeyboardModifiers modifiers) {
    std::uint32_t mask = 0;
    if (modifiers & Qt::ControlModifier)
        mask |= kCtrl;
    if (modifiers & Qt::AltModifier)
        mask |= kAlt;
    if (modifiers & Qt::ShiftModifier)
        mask |= kShift;
    if (modifiers & Qt::MetaModifier)
        mask |= kSuper;
    return mask;
}

} // namespace vantel
