#pragma once

// Key grabs on the X11 root window over a connection of their own. Each combination is grabbed
// four times, with and without NumLock and CapsLock, because the server matches the modifier
// state exactly. Events are read when the connection's socket becomes readable (a
// QSocketNotifier), never by polling on a timer.
//
// Thread: main thread only. The grab counts and the repeat filter are touched only there.

#include "platform/hotkeys/HotkeyGrabber.h"

#include <map>
#include <memory>
#include <tuple>

class QSocketNotifier;
struct xcb_key_press_event_t;

namespace vantel::platform {

class X11Connection;

class X11HotkeyGrabber : public HotkeyGrabber {
    Q_OBJECT
public:
    // Throws std::runtime_error when no X display can be opened.
    explicit X11HotkeyGrabber(QObject* parent = nullptr);
    ~X11HotkeyGrabber() override;

    bool grab(const KeyChord& chord) override;
    void release(const KeyChord& chord) override;

private:
    struct ChordLess {
        bool operator()(const KeyChord& a, const KeyChord& b) const {
            return std::tie(a.evdevCode, a.ctrl, a.alt, a.shift, a.super) <
                   std::tie(b.evdevCode, b.ctrl, b.alt, b.shift, b.super);
        }
    };
    struct Held {
        int count = 0;
        bool granted = false;
    };

    bool grabAllLockStates(const KeyChord& chord);
    void ungrabAllLockStates(const KeyChord& chord);
    std::uint16_t modifierMask(const KeyChord& chord) const;
    std::uint16_t numLockMask();
    void readEvents();
    void handlePress(const xcb_key_press_event_t& event);

    std::unique_ptr<X11Connection> m_x;
    QSocketNotifier* m_notifier = nullptr;
    std::map<KeyChord, Held, ChordLess> m_held;
    std::uint16_t m_numLock = 0;
    // Key repeat arrives as a release and a press with the same time stamp; the release's time
    // of each key code tells such a press from a new one.
    std::map<std::uint8_t, std::uint32_t> m_releaseTime;
};

} // namespace vantel::platform
