#include "platform/hotkeys/x11/X11HotkeyGrabber.h"

#include "platform/x11/X11Connection.h"

#include <QMetaObject>
#include <QSocketNotifier>
#include <cstdlib>
#include <vector>
#include <xcb/xcb_keysyms.h>

namespace vantel::platform {

namespace {

constexpr std::uint32_t kEvdevToX = 8; // xkb key codes are evdev codes plus 8
constexpr std::uint32_t kNumLockKeysym = 0xff7f;
constexpr std::uint16_t kChordModifiers =
    XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1 | XCB_MOD_MASK_4;

template <typename T> using Reply = std::unique_ptr<T, decltype(&std::free)>;

} // namespace

X11HotkeyGrabber::X11HotkeyGrabber(QObject* parent)
    : HotkeyGrabber(parent)
    , m_x(std::make_unique<X11Connection>()) {
    m_numLock = numLockMask();
    m_notifier = new QSocketNotifier(m_x->fd(), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &X11HotkeyGrabber::readEvents);
}

X11HotkeyGrabber::~X11HotkeyGrabber() {
    for (const auto& [chord, held] : m_held) {
        if (held.granted)
            ungrabAllLockStates(chord);
    }
    xcb_flush(m_x->get());
}

bool X11HotkeyGrabber::grab(const KeyChord& chord) {
    Held& held = m_held[chord];
    // A combination refused earlier is asked for again: its holder may have let it go.
    if (held.count++ == 0 || !held.granted)
        held.granted = grabAllLockStates(chord);
    // Checking the requests may have read events into xcb's queue without the socket
    // becoming readable again; drain them from the event loop.
    QMetaObject::invokeMethod(this, &X11HotkeyGrabber::readEvents, Qt::QueuedConnection);
    return held.granted;
}

void X11HotkeyGrabber::release(const KeyChord& chord) {
    auto it = m_held.find(chord);
    if (it == m_held.end() || --it->second.count > 0)
        return;
    if (it->second.granted)
        ungrabAllLockStates(chord);
    xcb_flush(m_x->get());
    m_held.erase(it);
}

std::uint16_t X11HotkeyGrabber::modifierMask(const KeyChord& chord) const {
    std::uint16_t mask = 0;
    if (chord.shift)
        mask |= XCB_MOD_MASK_SHIFT;
    if (chord.ctrl)
        mask |= XCB_MOD_MASK_CONTROL;
    if (chord.alt)
        mask |= XCB_MOD_MASK_1;
    if (chord.super)
        mask |= XCB_MOD_MASK_4;
    return mask;
}

bool X11HotkeyGrabber::grabAllLockStates(const KeyChord& chord) {
    if (m_x->broken())
        return false;
    const std::uint16_t base = modifierMask(chord);
    const auto keycode = xcb_keycode_t(chord.evdevCode + kEvdevToX);
    std::vector<xcb_void_cookie_t> cookies;
    for (std::uint16_t locks : {std::uint16_t(0), std::uint16_t(XCB_MOD_MASK_LOCK), m_numLock,
                                std::uint16_t(m_numLock | XCB_MOD_MASK_LOCK)}) {
        cookies.push_back(xcb_grab_key_checked(m_x->get(), 1, m_x->root(), base | locks, keycode,
                                               XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
    }
    bool granted = true;
    for (auto cookie : cookies) {
        if (xcb_generic_error_t* error = xcb_request_check(m_x->get(), cookie)) {
            granted = false; // BadAccess: another client holds one of the states
            std::free(error);
        }
    }
    if (!granted)
        ungrabAllLockStates(chord);
    return granted;
}

void X11HotkeyGrabber::ungrabAllLockStates(const KeyChord& chord) {
    // UngrabKey only ever releases this client's own grabs, so states another client holds
    // stay untouched.
    const std::uint16_t base = modifierMask(chord);
    const auto keycode = xcb_keycode_t(chord.evdevCode + kEvdevToX);
    for (std::uint16_t locks : {std::uint16_t(0), std::uint16_t(XCB_MOD_MASK_LOCK), m_numLock,
                                std::uint16_t(m_numLock | XCB_MOD_MASK_LOCK)})
        xcb_ungrab_key(m_x->get(), keycode, m_x->root(), base | locks);
}

std::uint16_t X11HotkeyGrabber::numLockMask() {
    xcb_connection_t* c = m_x->get();
    auto mapping = Reply<xcb_get_modifier_mapping_reply_t>(
        xcb_get_modifier_mapping_reply(c, xcb_get_modifier_mapping(c), nullptr), &std::free);
    xcb_key_symbols_t* symbols = xcb_key_symbols_alloc(c);
    xcb_keycode_t* numLockKeys =
        symbols ? xcb_key_symbols_get_keycode(symbols, kNumLockKeysym) : nullptr;
    std::uint16_t mask = 0;
    if (mapping && numLockKeys) {
        const xcb_keycode_t* map = xcb_get_modifier_mapping_keycodes(mapping.get());
        const int perModifier = mapping->keycodes_per_modifier;
        for (int modifier = 0; modifier < 8 && mask == 0; ++modifier) {
            for (int i = 0; i < perModifier; ++i) {
                const xcb_keycode_t key = map[modifier * perModifier + i];
                for (const xcb_keycode_t* k = numLockKeys; key && *k != XCB_NO_SYMBOL; ++k) {
                    if (*k == key)
                        mask = std::uint16_t(1u << modifier);
                }
            }
        }
    }
    std::free(numLockKeys);
    if (symbols)
        xcb_key_symbols_free(symbols);
    // Mod2 is where every common keymap puts NumLock.
    return mask ? mask : std::uint16_t(XCB_MOD_MASK_2);
}

void X11HotkeyGrabber::readEvents() {
    xcb_connection_t* c = m_x->get();
    while (xcb_generic_event_t* event = xcb_poll_for_event(c)) {
        const std::uint8_t type = event->response_type & 0x7f;
        if (type == XCB_KEY_PRESS) {
            handlePress(*reinterpret_cast<xcb_key_press_event_t*>(event));
        } else if (type == XCB_KEY_RELEASE) {
            const auto* release = reinterpret_cast<xcb_key_release_event_t*>(event);
            m_releaseTime[release->detail] = release->time;
        }
        std::free(event);
    }
    // A lost server leaves the socket readable forever; stop listening to it.
    if (m_x->broken())
        m_notifier->setEnabled(false);
}

void X11HotkeyGrabber::handlePress(const xcb_key_press_event_t& event) {
    auto repeat = m_releaseTime.find(event.detail);
    if (repeat != m_releaseTime.end() && repeat->second == event.time)
        return;
    const std::uint16_t mods = event.state & kChordModifiers;
    KeyChord chord;
    chord.evdevCode = std::uint32_t(event.detail) - kEvdevToX;
    chord.shift = mods & XCB_MOD_MASK_SHIFT;
    chord.ctrl = mods & XCB_MOD_MASK_CONTROL;
    chord.alt = mods & XCB_MOD_MASK_1;
    chord.super = mods & XCB_MOD_MASK_4;
    auto held = m_held.find(chord);
    if (held != m_held.end() && held->second.granted)
        emit pressed(chord);
}

} // namespace vantel::platform
