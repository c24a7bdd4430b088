#pragma once

// System-wide key combinations: the desktop delivers a grabbed combination to this program
// whichever window has the focus (a game in front included). One backend per desktop (X11 key
// grabs, the Wayland desktop's global shortcuts portal) plus a null backend;
// createHotkeyGrabber() picks one at run time.
//
// Thread: a grabber lives on the main thread; grab, release and `pressed` all happen there.

#include <QObject>
#include <QString>
#include <cstdint>
#include <memory>

namespace vantel::platform {

// A physical key (its evdev code, so the combination means the same key on every layout) and
// the four modifiers.
struct KeyChord {
    std::uint32_t evdevCode = 0;
    bool ctrl = false;
    bool alt = false;
    bool shift = false;
    bool super = false;

    friend bool operator==(const KeyChord&, const KeyChord&) = default;
};

class HotkeyGrabber : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~HotkeyGrabber() override = default;

    // Asks the desktop for the combination, whatever lock keys (NumLock, CapsLock) are on.
    // Grabs are counted: grabbing a combination this grabber already holds succeeds at once,
    // one refused before is asked for again; each grab needs its own release. False when the
    // desktop refused, for example because another program holds the combination; nothing stays
    // grabbed then.
    virtual bool grab(const KeyChord& chord) = 0;
    // Gives one grab of the combination back; the last release frees it for other programs.
    virtual void release(const KeyChord& chord) = 0;
    // True where the desktop gives programs no global shortcuts at all (a Wayland desktop
    // without the global shortcuts portal): the user has to bind `vantel-record save` in the
    // desktop's keyboard settings. May turn true some time after creation, once the desktop
    // answered.
    virtual bool needsDesktopBinding() const { return false; }

signals:
    // A grabbed combination was pressed. Key repeat while it is held down does not signal
    // again.
    void pressed(const vantel::platform::KeyChord& chord);
    // A desktop that answers later (the Wayland desktop may ask the user first) refused a
    // combination that grab() accepted: it will not be pressed. It stays counted as grabbed, so
    // each grab still needs its release; a grab after the last release asks again.
    void refused(const vantel::platform::KeyChord& chord);
};

// Which grabber to make, and where the portal backend asks for shortcuts.
struct HotkeyConfig {
    // A named backend, or `automatic`: the portal on a Wayland desktop (WAYLAND_DISPLAY set),
    // else X11 when a display can be opened, else the null backend, which refuses every grab.
    enum class Choice { automatic, x11, portal, null };
    Choice choice = Choice::automatic;
    // The bus name of the global shortcuts portal (the desktop's own unless a stand-in is meant).
    QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");
};

// x11 falls back to the null backend where no display can be opened.
std::unique_ptr<HotkeyGrabber> createHotkeyGrabber(const HotkeyConfig& config,
                                                   QObject* parent = nullptr);

} // namespace vantel::platform
