#include "platform/hotkeys/wayland/PortalHotkeyGrabber.h"

#include <algorithm>
#include <memory>
#include <xkbcommon/xkbcommon.h>

namespace vantel::platform {

namespace {

// The symbol the key types at its first level in xkbcommon's default layout (XKB_DEFAULT_*).
QString keyName(uint32_t evdevCode) {
    std::unique_ptr<xkb_context, decltype(&xkb_context_unref)> context(
        xkb_context_new(XKB_CONTEXT_NO_FLAGS), &xkb_context_unref);
    if (!context)
        return {};
    std::unique_ptr<xkb_keymap, decltype(&xkb_keymap_unref)> keymap(
        xkb_keymap_new_from_names(context.get(), nullptr, XKB_KEYMAP_COMPILE_NO_FLAGS),
        &xkb_keymap_unref);
    if (!keymap)
        return {};
    const xkb_keysym_t* syms = nullptr;
    if (xkb_keymap_key_get_syms_by_level(keymap.get(), evdevCode + 8, 0, 0, &syms) < 1)
        return {};
    char name[64] = {};
    if (xkb_keysym_get_name(syms[0], name, sizeof name) <= 0)
        return {};
    return QString::fromUtf8(name);
}

} // namespace

PortalHotkeyGrabber::PortalHotkeyGrabber(const QString& portalService, QObject* parent)
    : HotkeyGrabber(parent)
    , m_portal(portalService) {
    m_bind.setSingleShot(true);
    m_bind.setInterval(0);
    connect(&m_bind, &QTimer::timeout, this, &PortalHotkeyGrabber::bindNow);
    connect(&m_portal, &GlobalShortcutsPortal::bound, this, &PortalHotkeyGrabber::answered);
    connect(&m_portal, &GlobalShortcutsPortal::activated, this, [this](const QString& id) {
        for (const Held& held : m_held)
            if (trigger(held.chord) == id)
                emit pressed(held.chord);
    });
}

QString PortalHotkeyGrabber::trigger(const KeyChord& chord) {
    QString text;
    if (chord.ctrl)
        text += QStringLiteral("CTRL+");
    if (chord.alt)
        text += QStringLiteral("ALT+");
    if (chord.shift)
        text += QStringLiteral("SHIFT+");
    if (chord.super)
        text += QStringLiteral("LOGO+");
    const QString key = keyName(chord.evdevCode);
    return text + (key.isEmpty() ? QStringLiteral("evdev-%1").arg(chord.evdevCode) : key);
}

bool PortalHotkeyGrabber::grab(const KeyChord& chord) {
    auto it =
        std::find_if(m_held.begin(), m_held.end(), [&](const Held& h) { return h.chord == chord; });
    if (it != m_held.end()) {
        ++it->count;
        return true;
    }
    m_held.push_back({chord, 1});
    bindSoon();
    return true;
}

void PortalHotkeyGrabber::release(const KeyChord& chord) {
    auto it =
        std::find_if(m_held.begin(), m_held.end(), [&](const Held& h) { return h.chord == chord; });
    if (it == m_held.end() || --it->count > 0)
        return;
    m_held.erase(it);
    bindSoon();
}

bool PortalHotkeyGrabber::needsDesktopBinding() const {
    return m_portal.availability() == GlobalShortcutsPortal::Availability::missing;
}

// The answer to the newest bind: every held combination it leaves out is not ours.
void PortalHotkeyGrabber::answered(const QMap<QString, QString>& triggers) {
    // The held set changed since that bind: the bind of the new set is coming, its answer counts.
    if (m_bind.isActive())
        return;
    std::vector<KeyChord> refusals;
    for (const Held& held : m_held)
        if (!triggers.contains(trigger(held.chord)))
            refusals.push_back(held.chord);
    for (const KeyChord& chord : refusals)
        emit refused(chord);
}

void PortalHotkeyGrabber::bindSoon() {
    m_bind.start();
}

void PortalHotkeyGrabber::bindNow() {
    QList<GlobalShortcutsPortal::Shortcut> shortcuts;
    for (const Held& held : m_held)
        shortcuts.append({trigger(held.chord), QStringLiteral("Save a clip"), trigger(held.chord)});
    m_portal.bind(shortcuts);
}

} // namespace vantel::platform
