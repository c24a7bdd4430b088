#include "HotkeyField.h"

#include "Theme.h"
#include "platform/freedesktop/EventSound.h"
#include "settings/KeyboardLayout.h"

#include <QApplication>
#include <QKeyEvent>
#include <QStyle>
#include <linux/input-event-codes.h>
#include <utility>

namespace vantel {

namespace {

constexpr std::uint32_t kEscape = 53;
// The function and navigation block of the key codes.
constexpr std::uint32_t kFunctionBlockFirst = 96;
constexpr std::uint32_t kFunctionBlockLast = 122;
// X keycodes are evdev codes plus 8 on every evdev-based keymap.
constexpr quint32 kEvdevOffset = 8;

// Where the platform gives no scan code: the key's position on a US keyboard.
constexpr std::pair<int, std::uint32_t> kQtKeyToEvdev[] = {
    {Qt::Key_A, KEY_A},
    {Qt::Key_B, KEY_B},
    {Qt::Key_C, KEY_C},
    {Qt::Key_D, KEY_D},
    {Qt::Key_E, KEY_E},
    {Qt::Key_F, KEY_F},
    {Qt::Key_G, KEY_G},
    {Qt::Key_H, KEY_H},
    {Qt::Key_I, KEY_I},
    {Qt::Key_J, KEY_J},
    {Qt::Key_K, KEY_K},
    {Qt::Key_L, KEY_L},
    {Qt::Key_M, KEY_M},
    {Qt::Key_N, KEY_N},
    {Qt::Key_O, KEY_O},
    {Qt::Key_P, KEY_P},
    {Qt::Key_Q, KEY_Q},
    {Qt::Key_R, KEY_R},
    {Qt::Key_S, KEY_S},
    {Qt::Key_T, KEY_T},
    {Qt::Key_U, KEY_U},
    {Qt::Key_V, KEY_V},
    {Qt::Key_W, KEY_W},
    {Qt::Key_X, KEY_X},
    {Qt::Key_Y, KEY_Y},
    {Qt::Key_Z, KEY_Z},
    {Qt::Key_0, KEY_0},
    {Qt::Key_1, KEY_1},
    {Qt::Key_2, KEY_2},
    {Qt::Key_3, KEY_3},
    {Qt::Key_4, KEY_4},
    {Qt::Key_5, KEY_5},
    {Qt::Key_6, KEY_6},
    {Qt::Key_7, KEY_7},
    {Qt::Key_8, KEY_8},
    {Qt::Key_9, KEY_9},
    {Qt::Key_F1, KEY_F1},
    {Qt::Key_F2, KEY_F2},
    {Qt::Key_F3, KEY_F3},
    {Qt::Key_F4, KEY_F4},
    {Qt::Key_F5, KEY_F5},
    {Qt::Key_F6, KEY_F6},
    {Qt::Key_F7, KEY_F7},
    {Qt::Key_F8, KEY_F8},
    {Qt::Key_F9, KEY_F9},
    {Qt::Key_F10, KEY_F10},
    {Qt::Key_F11, KEY_F11},
    {Qt::Key_F12, KEY_F12},
    {Qt::Key_F13, KEY_F13},
    {Qt::Key_F14, KEY_F14},
    {Qt::Key_F15, KEY_F15},
    {Qt::Key_Escape, KEY_ESC},
    {Qt::Key_Return, KEY_ENTER},
    {Qt::Key_Tab, KEY_TAB},
    {Qt::Key_Backspace, KEY_BACKSPACE},
    {Qt::Key_Space, KEY_SPACE},
    {Qt::Key_Home, KEY_HOME},
    {Qt::Key_End, KEY_END},
    {Qt::Key_PageUp, KEY_PAGEUP},
    {Qt::Key_PageDown, KEY_PAGEDOWN},
    {Qt::Key_Left, KEY_LEFT},
    {Qt::Key_Right, KEY_RIGHT},
    {Qt::Key_Up, KEY_UP},
    {Qt::Key_Down, KEY_DOWN},
    {Qt::Key_Insert, KEY_INSERT},
    {Qt::Key_Delete, KEY_DELETE},
};

bool isModifierKey(int qtKey) {
    switch (qtKey) {
    case Qt::Key_Shift:
    case Qt::Key_Control:
    case Qt::Key_Alt:
    case Qt::Key_AltGr:
    case Qt::Key_Meta:
    case Qt::Key_Super_L:
    case Qt::Key_Super_R:
    case Qt::Key_Hyper_L:
    case Qt::Key_Hyper_R:
    case Qt::Key_CapsLock:
    case Qt::Key_NumLock:
    case Qt::Key_Mode_switch:
        return true;
    default:
        return false;
    }
}

// The desktop's warning sound; the display's bell where no sound server plays it.
void playWarning() {
    platform::EventSound::play("dialog-warning", [](bool played) {
        if (!played)
            QMetaObject::invokeMethod(
                qApp, [] { QApplication::beep(); }, Qt::QueuedConnection);
    });
}

} // namespace

HotkeyField::HotkeyField(QWidget* parent)
    : QPushButton(parent)
    , m_alert(playWarning) {
    setFont(Theme::mono(12));
    setCursor(Qt::PointingHandCursor);
    connect(this, &QPushButton::clicked, this, &HotkeyField::toggleListening);
    updateTitle();
}

HotkeyField::~HotkeyField() {
    stopListening();
}

void HotkeyField::setHotkey(Hotkey hotkey) {
    m_hotkey = hotkey;
    updateTitle();
}

void HotkeyField::setAlert(std::function<void()> alert) {
    m_alert = std::move(alert);
}

bool HotkeyField::accepts(std::uint32_t keyCode, std::uint32_t modifiers) {
    if (keyCode >= kFunctionBlockFirst && keyCode <= kFunctionBlockLast)
        return true;
    const std::uint32_t held =
        modifiers & (Hotkey::kCtrl | Hotkey::kAlt | Hotkey::kShift | Hotkey::kSuper);
    return held != 0;
}

std::optional<std::uint32_t> HotkeyField::keyCodeOf(const QKeyEvent& event) {
    if (event.nativeScanCode() > kEvdevOffset)
        return keyCodeForEvdevCode(event.nativeScanCode() - kEvdevOffset);
    for (const auto& [qtKey, evdev] : kQtKeyToEvdev) {
        if (qtKey == event.key())
            return keyCodeForEvdevCode(evdev);
    }
    return std::nullopt;
}

void HotkeyField::toggleListening() {
    if (m_listening)
        stopListening();
    else
        startListening();
}

void HotkeyField::startListening() {
    m_listening = true;
    qApp->installEventFilter(this);
    updateTitle();
}

void HotkeyField::stopListening() {
    if (!m_listening)
        return;
    m_listening = false;
    qApp->removeEventFilter(this);
    updateTitle();
}

bool HotkeyField::eventFilter(QObject* watched, QEvent* event) {
    if (!m_listening)
        return QPushButton::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::ShortcutOverride:
        // Claimed, so no menu or window shortcut fires while the field listens.
        event->accept();
        return true;
    case QEvent::KeyPress:
        handleKey(*static_cast<QKeyEvent*>(event));
        return true;
    default:
        return QPushButton::eventFilter(watched, event);
    }
}

void HotkeyField::handleKey(const QKeyEvent& event) {
    if (event.isAutoRepeat() || isModifierKey(event.key()))
        return;
    const std::optional<std::uint32_t> code = keyCodeOf(event);
    if (code == kEscape) {
        stopListening();
        return;
    }
    const std::uint32_t modifiers = Hotkey::carbonFlags(event.modifiers());
    if (!code || !accepts(*code, modifiers)) {
        if (m_alert)
            m_alert();
        emit keyRefused();
        return;
    }
    m_hotkey = Hotkey{*code, modifiers};
    stopListening();
    emit hotkeyRecorded(m_hotkey);
}

void HotkeyField::hideEvent(QHideEvent* event) {
    stopListening();
    QPushButton::hideEvent(event);
}

void HotkeyField::updateTitle() {
    setText(m_listening ? QStringLiteral("Press a shortcut…") : m_hotkey.display());
    setProperty("listening", m_listening);
    style()->unpolish(this);
    style()->polish(this);
}

} // namespace vantel
