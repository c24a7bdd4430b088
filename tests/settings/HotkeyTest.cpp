// Shortcut texts, key names on real xkb layouts, and the modifier mask of key events.

#include "settings/Hotkey.h"

#include "settings/KeyboardLayout.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <linux/input-event-codes.h>
#include <optional>
#include <string>

namespace vantel {
namespace {

std::unique_ptr<XkbKeyboardLayout> layout(const char* name) {
    auto made = XkbKeyboardLayout::fromNames({"evdev", "pc105", name, "", ""});
    if (!made)
        ADD_FAILURE() << "cannot compile the xkb layout " << name;
    return made;
}

// Forces where key names come from for one scope; the session decides again after it.
class ScopedSource {
public:
    explicit ScopedSource(KeyboardLayout::Source source) { KeyboardLayout::forceSource(source); }
    ~ScopedSource() { KeyboardLayout::forceSource(KeyboardLayout::Source::automatic); }
};

// Sets an environment variable for one scope and puts the old value back.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value)
        : m_name(name) {
        if (const char* old = std::getenv(name))
            m_old = old;
        value ? setenv(name, value, 1) : unsetenv(name);
    }
    ~ScopedEnv() { m_old ? setenv(m_name, m_old->c_str(), 1) : unsetenv(m_name); }

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

TEST(Hotkey, DisplayListsModifiersInFixedOrderThenTheKey) {
    const auto us = layout("us");
    ASSERT_TRUE(us);
    EXPECT_EQ(Hotkey::defaultSave(), (Hotkey{8, 0x0A00}));
    EXPECT_EQ(Hotkey::defaultSave().display(us.get()), "Alt+Shift+C");
    const std::uint32_t all = Hotkey::kSuper | Hotkey::kShift | Hotkey::kAlt | Hotkey::kCtrl;
    EXPECT_EQ((Hotkey{49, all}).display(us.get()), "Ctrl+Alt+Shift+Super+Space");
    EXPECT_EQ((Hotkey{36, 0}).display(us.get()), "Return");
    EXPECT_EQ((Hotkey{0, Hotkey::kCtrl | Hotkey::kSuper}).display(us.get()), "Ctrl+Super+A");
    // Bits outside the four modifiers are not shown.
    EXPECT_EQ((Hotkey{122, 0x0001 | 0x0400}).display(us.get()), "F1");
    EXPECT_NE((Hotkey{8, 0x0A00}), (Hotkey{8, 0x0A01}));
    EXPECT_NE((Hotkey{8, 0x0A00}), (Hotkey{9, 0x0A00}));
}

TEST(Hotkey, FixedKeysHaveTheirNamesWithoutAnyLayout) {
    const std::pair<std::uint32_t, const char*> table[] = {
        {122, "F1"},    {120, "F2"},    {99, "F3"},    {118, "F4"},     {96, "F5"},
        {97, "F6"},     {98, "F7"},     {100, "F8"},   {101, "F9"},     {109, "F10"},
        {103, "F11"},   {111, "F12"},   {105, "F13"},  {107, "F14"},    {113, "F15"},
        {49, "Space"},  {36, "Return"}, {48, "Tab"},   {53, "Esc"},     {51, "Backspace"},
        {115, "Home"},  {119, "End"},   {116, "PgUp"}, {121, "PgDown"}, {123, "Left"},
        {124, "Right"}, {126, "Up"},    {125, "Down"},
    };
    for (const auto& [code, name] : table)
        EXPECT_EQ(Hotkey::keyName(code, nullptr), name) << "key code " << code;
}

TEST(Hotkey, WithoutLayoutOtherKeysAreQuestionMarks) {
    EXPECT_EQ(Hotkey::keyName(8, nullptr), "?");
    EXPECT_EQ(Hotkey::keyName(0xFFFFFFFF, nullptr), "?");
    EXPECT_EQ(Hotkey::defaultSave().display(nullptr), "Alt+Shift+?");
    ScopedSource force(KeyboardLayout::Source::none);
    EXPECT_EQ(Hotkey::keyName(8), "?");
    EXPECT_EQ(Hotkey::keyName(49), "Space");
}

TEST(Hotkey, KeyNamesFollowTheLayout) {
    const auto us = layout("us");
    const auto de = layout("de");
    const auto fr = layout("fr");
    ASSERT_TRUE(us && de && fr);
    EXPECT_EQ(Hotkey::keyName(12, us.get()), "Q");
    EXPECT_EQ(Hotkey::keyName(6, us.get()), "Z");
    EXPECT_EQ(Hotkey::keyName(18, us.get()), "1");
    EXPECT_EQ(Hotkey::keyName(50, us.get()), "`");
    EXPECT_EQ(Hotkey::keyName(6, de.get()), "Y");
    EXPECT_EQ(Hotkey::keyName(16, de.get()), "Z");
    EXPECT_EQ(Hotkey::keyName(41, de.get()), QString::fromUtf8("\u00d6"));
    EXPECT_EQ(Hotkey::keyName(12, fr.get()), "A");
    EXPECT_EQ(Hotkey::keyName(0, fr.get()), "Q");
    EXPECT_EQ(Hotkey::keyName(29, fr.get()), QString::fromUtf8("\u00c0"));
    // A dead key shows the accent it adds.
    EXPECT_EQ(Hotkey::keyName(33, fr.get()), "^");
    EXPECT_EQ((Hotkey{12, Hotkey::kCtrl}).display(fr.get()), "Ctrl+A");
}

TEST(Hotkey, KeysThatTypeNothingHaveEmptyNames) {
    const auto us = layout("us");
    ASSERT_TRUE(us);
    EXPECT_EQ(Hotkey::keyName(56, us.get()), ""); // Shift
    EXPECT_EQ(Hotkey::keyName(52, us.get()), ""); // no such key
    EXPECT_EQ(Hotkey::keyName(0x10008, us.get()), "");
}

TEST(KeyboardLayout, CurrentFallsBackToTheEnvironmentNames) {
    ScopedEnv noDisplay("DISPLAY", nullptr);
    {
        ScopedEnv french("XKB_DEFAULT_LAYOUT", "fr");
        EXPECT_EQ(Hotkey::keyName(12), "A");
        EXPECT_EQ(Hotkey::defaultSave().display(), "Alt+Shift+C");
    }
    {
        ScopedEnv german("XKB_DEFAULT_LAYOUT", "de");
        EXPECT_EQ(Hotkey::keyName(16), "Z");
    }
    ScopedEnv bogus("XKB_DEFAULT_LAYOUT", "no-such-layout");
    EXPECT_EQ(KeyboardLayout::current(), nullptr);
    EXPECT_EQ(Hotkey::keyName(8), "?");
}

TEST(KeyboardLayout, KeyCodesMapToDistinctPhysicalKeys) {
    EXPECT_EQ(evdevCodeForKeyCode(8), std::optional<std::uint32_t>(KEY_C));
    EXPECT_EQ(evdevCodeForKeyCode(49), std::optional<std::uint32_t>(KEY_SPACE));
    EXPECT_EQ(evdevCodeForKeyCode(53), std::optional<std::uint32_t>(KEY_ESC));
    EXPECT_EQ(evdevCodeForKeyCode(122), std::optional<std::uint32_t>(KEY_F1));
    EXPECT_FALSE(evdevCodeForKeyCode(52));
    EXPECT_FALSE(evdevCodeForKeyCode(0x10008));
    int mapped = 0;
    for (std::uint32_t code = 0; code < 128; ++code) {
        if (const auto evdev = evdevCodeForKeyCode(code)) {
            ++mapped;
            EXPECT_EQ(keyCodeForEvdevCode(*evdev), code) << "two codes share evdev " << *evdev;
        }
    }
    EXPECT_GT(mapped, 90);
}

TEST(Hotkey, ModifierMaskKeepsOnlyTheFourModifiers) {
    EXPECT_EQ(Hotkey::carbonFlags(Qt::MetaModifier | Qt::ShiftModifier), 768u);
    EXPECT_EQ(Hotkey::carbonFlags(Qt::ControlModifier), 0x1000u);
    EXPECT_EQ(Hotkey::carbonFlags(Qt::AltModifier), 0x0800u);
    EXPECT_EQ(Hotkey::carbonFlags(Qt::KeypadModifier), 0u);
    EXPECT_EQ(Hotkey::carbonFlags(Qt::GroupSwitchModifier | Qt::KeypadModifier), 0u);
    EXPECT_EQ(Hotkey::carbonFlags(Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier |
                                  Qt::MetaModifier | Qt::KeypadModifier),
              0x1B00u);
}

} // namespace
} // namespace vantel
