#include "KeyboardLayout.h"

#include <array>
#include <atomic>
#include <cstdlib>
#include <linux/input-event-codes.h>
#include <string_view>
#include <utility>
#include <xkbcommon/xkbcommon.h>
#if HAVE_X11
#include <xcb/xcb.h>
#include <xkbcommon/xkbcommon-x11.h>
#endif

namespace vantel {

namespace {

// Stored key code -> evdev code of the same physical key.
constexpr std::pair<std::uint32_t, std::uint32_t> kKeyCodeToEvdev[] = {
    {0, KEY_A},         {1, KEY_S},           {2, KEY_D},           {3, KEY_F},
    {4, KEY_H},         {5, KEY_G},           {6, KEY_Z},           {7, KEY_X},
    {8, KEY_C},         {9, KEY_V},           {10, KEY_102ND},      {11, KEY_B},
    {12, KEY_Q},        {13, KEY_W},          {14, KEY_E},          {15, KEY_R},
    {16, KEY_Y},        {17, KEY_T},          {18, KEY_1},          {19, KEY_2},
    {20, KEY_3},        {21, KEY_4},          {22, KEY_6},          {23, KEY_5},
    {24, KEY_EQUAL},    {25, KEY_9},          {26, KEY_7},          {27, KEY_MINUS},
    {28, KEY_8},        {29, KEY_0},          {30, KEY_RIGHTBRACE}, {31, KEY_O},
    {32, KEY_U},        {33, KEY_LEFTBRACE},  {34, KEY_I},          {35, KEY_P},
    {36, KEY_ENTER},    {37, KEY_L},          {38, KEY_J},          {39, KEY_APOSTROPHE},
    {40, KEY_K},        {41, KEY_SEMICOLON},  {42, KEY_BACKSLASH},  {43, KEY_COMMA},
    {44, KEY_SLASH},    {45, KEY_N},          {46, KEY_M},          {47, KEY_DOT},
    {48, KEY_TAB},      {49, KEY_SPACE},      {50, KEY_GRAVE},      {51, KEY_BACKSPACE},
    {53, KEY_ESC},      {54, KEY_RIGHTMETA},  {55, KEY_LEFTMETA},   {56, KEY_LEFTSHIFT},
    {57, KEY_CAPSLOCK}, {58, KEY_LEFTALT},    {59, KEY_LEFTCTRL},   {60, KEY_RIGHTSHIFT},
    {61, KEY_RIGHTALT}, {62, KEY_RIGHTCTRL},  {63, KEY_FN},         {64, KEY_F17},
    {65, KEY_KPDOT},    {67, KEY_KPASTERISK}, {69, KEY_KPPLUS},     {71, KEY_NUMLOCK},
    {72, KEY_VOLUMEUP}, {73, KEY_VOLUMEDOWN}, {74, KEY_MUTE},       {75, KEY_KPSLASH},
    {76, KEY_KPENTER},  {78, KEY_KPMINUS},    {79, KEY_F18},        {80, KEY_F19},
    {81, KEY_KPEQUAL},  {82, KEY_KP0},        {83, KEY_KP1},        {84, KEY_KP2},
    {85, KEY_KP3},      {86, KEY_KP4},        {87, KEY_KP5},        {88, KEY_KP6},
    {89, KEY_KP7},      {90, KEY_F20},        {91, KEY_KP8},        {92, KEY_KP9},
    {93, KEY_YEN},      {94, KEY_RO},         {95, KEY_KPJPCOMMA},  {96, KEY_F5},
    {97, KEY_F6},       {98, KEY_F7},         {99, KEY_F3},         {100, KEY_F8},
    {101, KEY_F9},      {103, KEY_F11},       {105, KEY_F13},       {106, KEY_F16},
    {107, KEY_F14},     {109, KEY_F10},       {111, KEY_F12},       {113, KEY_F15},
    {114, KEY_INSERT},  {115, KEY_HOME},      {116, KEY_PAGEUP},    {117, KEY_DELETE},
    {118, KEY_F4},      {119, KEY_END},       {120, KEY_F2},        {121, KEY_PAGEDOWN},
    {122, KEY_F1},      {123, KEY_LEFT},      {124, KEY_RIGHT},     {125, KEY_DOWN},
    {126, KEY_UP},
};

// What the layout shows for a dead key: its spacing accent, as the keycap prints it.
constexpr std::pair<xkb_keysym_t, std::string_view> kDeadKeyText[] = {
    {XKB_KEY_dead_grave, "`"},          {XKB_KEY_dead_acute, "\u00b4"},
    {XKB_KEY_dead_circumflex, "^"},     {XKB_KEY_dead_tilde, "~"},
    {XKB_KEY_dead_macron, "\u00af"},    {XKB_KEY_dead_breve, "\u02d8"},
    {XKB_KEY_dead_abovedot, "\u02d9"},  {XKB_KEY_dead_diaeresis, "\u00a8"},
    {XKB_KEY_dead_abovering, "\u02da"}, {XKB_KEY_dead_doubleacute, "\u02dd"},
    {XKB_KEY_dead_caron, "\u02c7"},     {XKB_KEY_dead_cedilla, "\u00b8"},
    {XKB_KEY_dead_ogonek, "\u02db"},
};

// The X keycode of an evdev code, as every evdev-based keymap numbers keys.
constexpr std::uint32_t kEvdevOffset = 8;

struct ContextDeleter {
    void operator()(xkb_context* c) const { xkb_context_unref(c); }
};
struct KeymapDeleter {
    void operator()(xkb_keymap* k) const { xkb_keymap_unref(k); }
};
struct StateDeleter {
    void operator()(xkb_state* s) const { xkb_state_unref(s); }
};
#if HAVE_X11
struct ConnectionDeleter {
    void operator()(xcb_connection_t* c) const { xcb_disconnect(c); }
};
using ConnectionPtr = std::unique_ptr<xcb_connection_t, ConnectionDeleter>;
#endif
using ContextPtr = std::unique_ptr<xkb_context, ContextDeleter>;
using KeymapPtr = std::unique_ptr<xkb_keymap, KeymapDeleter>;
using StatePtr = std::unique_ptr<xkb_state, StateDeleter>;

// Compilation failures are expected answers here (no layout), not messages for the terminal.
ContextPtr newContext() {
    ContextPtr context(xkb_context_new(XKB_CONTEXT_NO_FLAGS));
    if (context)
        xkb_context_set_log_level(context.get(), XKB_LOG_LEVEL_CRITICAL);
    return context;
}

const char* orNull(const std::string& s) {
    return s.empty() ? nullptr : s.c_str();
}

std::string keysymText(xkb_keysym_t sym) {
    for (const auto& [dead, text] : kDeadKeyText) {
        if (dead == sym)
            return std::string(text);
    }
    std::array<char, 64> buffer{};
    int n = xkb_keysym_to_utf8(sym, buffer.data(), buffer.size());
    return n > 1 ? std::string(buffer.data()) : std::string();
}

} // namespace

std::optional<std::uint32_t> evdevCodeForKeyCode(std::uint32_t keyCode) {
    for (const auto& [code, evdev] : kKeyCodeToEvdev) {
        if (code == keyCode)
            return evdev;
    }
    return std::nullopt;
}

std::optional<std::uint32_t> keyCodeForEvdevCode(std::uint32_t evdevCode) {
    for (const auto& [code, evdev] : kKeyCodeToEvdev) {
        if (evdev == evdevCode)
            return code;
    }
    return std::nullopt;
}

namespace {
std::atomic<KeyboardLayout::Source> forcedSource{KeyboardLayout::Source::automatic};
} // namespace

void KeyboardLayout::forceSource(Source source) {
    forcedSource.store(source);
}

std::unique_ptr<KeyboardLayout> KeyboardLayout::current() {
    const Source source = forcedSource.load();
    if (source == Source::none)
        return nullptr;
    if (source == Source::automatic || source == Source::x11) {
        if (auto layout = XkbKeyboardLayout::fromX11())
            return layout;
        if (source == Source::x11)
            return nullptr;
    }
    return XkbKeyboardLayout::fromNames({});
}

XkbKeyboardLayout::XkbKeyboardLayout(xkb_keymap* keymap, std::uint32_t group)
    : m_keymap(keymap)
    , m_group(group) {}

XkbKeyboardLayout::~XkbKeyboardLayout() {
    xkb_keymap_unref(m_keymap);
}

std::unique_ptr<XkbKeyboardLayout> XkbKeyboardLayout::fromNames(const XkbNames& names) {
    ContextPtr context = newContext();
    if (!context)
        return nullptr;
    const xkb_rule_names rmlvo{orNull(names.rules), orNull(names.model), orNull(names.layout),
                               orNull(names.variant), orNull(names.options)};
    xkb_keymap* keymap =
        xkb_keymap_new_from_names(context.get(), &rmlvo, XKB_KEYMAP_COMPILE_NO_FLAGS);
    if (!keymap)
        return nullptr;
    return std::unique_ptr<XkbKeyboardLayout>(new XkbKeyboardLayout(keymap, 0));
}

std::unique_ptr<XkbKeyboardLayout> XkbKeyboardLayout::fromX11() {
#if !HAVE_X11
    return nullptr; // built without X11: no X server to ask
#else
    ConnectionPtr connection(xcb_connect(nullptr, nullptr));
    if (!connection || xcb_connection_has_error(connection.get()))
        return nullptr;
    if (!xkb_x11_setup_xkb_extension(
            connection.get(), XKB_X11_MIN_MAJOR_XKB_VERSION, XKB_X11_MIN_MINOR_XKB_VERSION,
            XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr, nullptr, nullptr))
        return nullptr;
    const std::int32_t device = xkb_x11_get_core_keyboard_device_id(connection.get());
    ContextPtr context = newContext();
    if (device == -1 || !context)
        return nullptr;
    KeymapPtr keymap(xkb_x11_keymap_new_from_device(context.get(), connection.get(), device,
                                                    XKB_KEYMAP_COMPILE_NO_FLAGS));
    if (!keymap)
        return nullptr;
    StatePtr state(xkb_x11_state_new_from_device(keymap.get(), connection.get(), device));
    const std::uint32_t group =
        state ? xkb_state_serialize_layout(state.get(), XKB_STATE_LAYOUT_EFFECTIVE) : 0;
    return std::unique_ptr<XkbKeyboardLayout>(new XkbKeyboardLayout(keymap.release(), group));
#endif
}

std::string XkbKeyboardLayout::levelOneText(std::uint32_t evdevCode) const {
    const xkb_keycode_t key = evdevCode + kEvdevOffset;
    const xkb_layout_index_t groups = xkb_keymap_num_layouts_for_key(m_keymap, key);
    if (groups == 0)
        return {};
    // A key with fewer groups than the keymap falls back to its first ones, as the server does.
    const xkb_layout_index_t group = m_group % groups;
    const xkb_keysym_t* syms = nullptr;
    const int count = xkb_keymap_key_get_syms_by_level(m_keymap, key, group, 0, &syms);
    std::string text;
    for (int i = 0; i < count; ++i)
        text += keysymText(syms[i]);
    return text;
}

} // namespace vantel
