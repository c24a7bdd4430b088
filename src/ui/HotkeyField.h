#pragma once

// The shortcut recorder: a button showing the save shortcut ("Alt+Shift+C"). A click makes it
// listen ("Press a shortcut…"); while it listens every key press sent to this application is
// consumed, so typing never reaches another control. Esc or another click stops listening and
// keeps the shortcut. A function or navigation key (F1-F15, Home, End, PgUp, PgDown) is taken
// with or without modifiers; any other key only with Ctrl, Alt, Shift or Super held. A refused
// key plays the alert sound and listening goes on. Pressing a modifier key alone neither counts
// nor alerts: it is the start of a combination.
//
// Keys are taken by physical position (the stored key codes name positions), from the key
// event's native scan code; the Qt key stands in where the platform gives no scan code.
//
// Thread: main thread.

#include "settings/Hotkey.h"

#include <QPushButton>
#include <cstdint>
#include <functional>
#include <optional>

class QKeyEvent;

namespace vantel {

class HotkeyField : public QPushButton {
    Q_OBJECT
public:
    explicit HotkeyField(QWidget* parent = nullptr);
    ~HotkeyField() override;

    Hotkey hotkey() const { return m_hotkey; }
    // Shows `hotkey`; emits nothing (this is how the store's value reaches the field).
    void setHotkey(Hotkey hotkey);
    bool isListening() const { return m_listening; }

    // Replaces the alert played on a refused key (the desktop's warning sound by default).
    void setAlert(std::function<void()> alert);

    // Whether a key code with the given modifier mask may be a shortcut.
    static bool accepts(std::uint32_t keyCode, std::uint32_t modifiers);
    // The key code of the physical key of `event`; no value for keys without one.
    static std::optional<std::uint32_t> keyCodeOf(const QKeyEvent& event);

signals:
    // A new shortcut was recorded; the field already shows it.
    void hotkeyRecorded(vantel::Hotkey hotkey);
    // A key was refused (after the alert played).
    void keyRefused();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void toggleListening();
    void startListening();
    void stopListening();
    void handleKey(const QKeyEvent& event);
    void updateTitle();

    Hotkey m_hotkey = Hotkey::defaultSave();
    bool m_listening = false;
    std::function<void()> m_alert;
};

} // namespace vantel
