#pragma once

// Global shortcuts on a Wayland desktop, through the desktop's global shortcuts portal. Every
// held combination becomes one portal shortcut, "Save a clip" (the program's one global
// shortcut), with the combination as its preferred trigger; the desktop may let the user pick
// another trigger, and a press of whatever it chose is reported as a press of the combination.
// Changes within one turn of the event loop (a release and a grab when the user changes the
// shortcut) lead to one bind of the new set.
//
// grab() cannot learn the desktop's answer at once: it asks and returns true; a combination the
// desktop then leaves out of its answer (the user cancelled its dialog, the desktop refused) is
// reported by refused(). Where the desktop has no such portal, needsDesktopBinding() turns true
// once that is known; the user then binds `vantel-record save` in the desktop's own keyboard
// settings.
//
// Thread: main thread.

#include "platform/hotkeys/HotkeyGrabber.h"
#include "platform/hotkeys/wayland/GlobalShortcutsPortal.h"

#include <QTimer>
#include <vector>

namespace vantel::platform {

class PortalHotkeyGrabber : public HotkeyGrabber {
    Q_OBJECT
public:
    // `portalService`: the portal's bus name (see GlobalShortcutsPortal).
    explicit PortalHotkeyGrabber(const QString& portalService, QObject* parent = nullptr);

    bool grab(const KeyChord& chord) override;
    void release(const KeyChord& chord) override;
    bool needsDesktopBinding() const override;

    // The combination in the freedesktop shortcuts notation ("CTRL+ALT+SHIFT+LOGO+" and the
    // key's symbol name in the default layout), e.g. "ALT+SHIFT+c"; the shortcut's id too.
    static QString trigger(const KeyChord& chord);

    GlobalShortcutsPortal& portal() { return m_portal; }

private:
    struct Held {
        KeyChord chord;
        int count = 0;
    };
    void bindSoon();
    void bindNow();
    void answered(const QMap<QString, QString>& triggers);

    GlobalShortcutsPortal m_portal;
    std::vector<Held> m_held;
    QTimer m_bind;
};

} // namespace vantel::platform
