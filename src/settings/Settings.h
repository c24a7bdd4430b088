#pragma once

// The user's choices while the application runs. Every option is loaded once, when the store is
// created, from an INI file; each set writes the option back at once (even an unchanged value)
// and tells the rest of the application:
// - a Qt signal per option, for windows showing it;
// - "captureSettingsChanged" on the store's Notifications once a burst of changes to something
//   that shapes the recording has settled for 0.6 seconds (each such change restarts the wait);
// - "hotkeyChanged" at once, before setSaveHotkey returns.
// The store checks no ranges: the settings window offers only sensible values.
//
// Threads: main thread only; the notifications are emitted on it.
// Errors: a file that cannot be written leaves the values in memory in effect; the next write
// that succeeds saves all of them, so nothing set is lost while the program runs.

#include "Hotkey.h"
#include "engine/CaptureConfig.h"
#include "engine/RecordingOptions.h"

#include <QObject>
#include <QSettings>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <string>
#include <utility>
#include <vector>

namespace vantel {

// The save shortcut is kept as two numbers under two keys.
struct HotkeyKeys {
    const char* code;
    const char* modifiers;
};

// Every option of the store, once:
//   X(getter, setter, value type, key in the file, default, what a set announces)
// The setter is set<Getter>, the signal <getter>Changed(value). The announcement is `capture`
// (the debounced "captureSettingsChanged"), `hotkey` ("hotkeyChanged" at once) or `nothing`.
// Loading: values absent from the file, and values that cannot be read as their type, take the
// default. Numbers are plain decimal text; switches "true"/"false" (numbers and yes/no load too);
// enumerations their exact raw values. A shortcut whose "hkCode" or "hkMods" is not a number in
// 0..4294967295 loads as the default shortcut as a whole: half of a foreign pair names no
// sensible key. An empty folder counts as absent; any other stored path is used as it stands,
// even when nothing exists there.
#define VANTEL_SETTINGS(X)                                                                         \
    X(bufferSeconds, setBufferSeconds, int, "bufferSeconds", 30, capture)                          \
    X(maxHeight, setMaxHeight, int, "maxHeight", 1440, capture)                                    \
    X(fps, setFps, int, "fps", 60, capture)                                                        \
    X(quality, setQuality, vantel::Quality, "quality", Quality::high, capture)                     \
    X(codec, setCodec, vantel::Codec, "codec", Codec::h264, capture)                               \
    X(mode, setMode, vantel::CaptureMode, "mode", CaptureMode::games, capture)                     \
    X(recordMic, setRecordMic, bool, "recordMic", false, capture)                                  \
    X(showCursor, setShowCursor, bool, "showCursor", false, capture)                               \
    X(playSound, setPlaySound, bool, "playSound", true, nothing)                                   \
    X(copyLinkAfterClip, setCopyLinkAfterClip, bool, "autoShare", false, nothing)                  \
    X(saveHotkey, setSaveHotkey, vantel::Hotkey, (HotkeyKeys{"hkCode", "hkMods"}),                 \
      Hotkey::defaultSave(), hotkey)                                                               \
    X(folder, setFolder, QString, "folder", AppPaths::defaultClipFolder(), nothing)

// The keys other parts of the application keep in the same file, beside the options above.
namespace settingsKey {
inline constexpr char extraGames[] = "extraGames";
inline constexpr char onboarded[] = "onboarded";
inline constexpr char paused[] = "paused";
inline constexpr char user[] = "user";
// The screen-cast portal's restore token: the user's kept choice of what may be recorded on
// Wayland.
inline constexpr char screenCastToken[] = "screenCastToken";
// The address of a self-hosted sharing service, set by hand in the file (nothing here writes
// it); read once, at the first use of siteURL() (settings/SiteUrl.h), which refuses anything
// but an absolute http or https address.
inline constexpr char sharingService[] = "sharingService";
} // namespace settingsKey

class Notifications;

class Settings : public QObject {
    Q_OBJECT
public:
    // The program's store, on AppPaths::configFile(), posting to Notifications::shared();
    // created on first use, never destroyed. For the program's start only.
    static Settings& shared();

    // A store over the INI file at `filePath` (created with its folder on the first write),
    // announcing on `notifications`, which must outlive it.
    Settings(const QString& filePath, Notifications& notifications, QObject* parent = nullptr);

#define VANTEL_SETTING_GETTER(name, setter, Type, ...)                                             \
    Type name() const {                                                                            \
        return m_##name;                                                                           \
    }
    VANTEL_SETTINGS(VANTEL_SETTING_GETTER)
#undef VANTEL_SETTING_GETTER

#define VANTEL_SETTING_SETTER(name, setter, Type, ...) void setter(Type value);
    VANTEL_SETTINGS(VANTEL_SETTING_SETTER)
#undef VANTEL_SETTING_SETTER

    // Where this store's announcements go.
    Notifications& notifications() const {
        return m_notifications;
    }

    // What a capture run is built from, as the options stand now.
    CaptureConfig captureConfig() const;

    // Every persisted option with its key, in the table's order, as text ("true"/"false", raw
    // enumeration values, plain numbers and paths).
    std::vector<std::pair<QString, QString>> entries() const;

    // The user's extra games, read afresh from the file at every call, so a write by any store
    // on that file is seen. Absent: empty. The INI file cannot tell a one-item list from a
    // plain string, so a lone string is a one-item list; empty entries are dropped.
    QStringList extraGames();
    // Stores the whole list, then emits "extraGamesChanged" before returning.
    void setExtraGames(const QStringList& games);

    // The screen-cast portal's restore token ("" when none is kept), read and written through
    // a store of their own on AppPaths::configFile(): unlike everything else here, any thread
    // may call them (the capture backend asks from its own threads).
    static std::string screenCastToken();
    static void setScreenCastToken(const std::string& token);

    // The underlying store, for the keys other parts of the application own ("onboarded",
    // "paused", "user"). Main thread only.
    QSettings& store() {
        return m_store;
    }

signals:
#define VANTEL_SETTING_SIGNAL(name, setter, Type, ...) void name##Changed(Type value);
    VANTEL_SETTINGS(VANTEL_SETTING_SIGNAL)
#undef VANTEL_SETTING_SIGNAL

private:
    enum class Announce { nothing, capture, hotkey };

    void load();
    void announce(Announce what);

    QSettings m_store;
    Notifications& m_notifications;
    // The capture announcement waiting to run; restarted by every capture-affecting set.
    QTimer m_pending;

    // Filled by load().
#define VANTEL_SETTING_MEMBER(name, setter, Type, ...) Type m_##name;
    VANTEL_SETTINGS(VANTEL_SETTING_MEMBER)
#undef VANTEL_SETTING_MEMBER
};

// One option of the table as a value, for code that binds controls to options generically.
template <typename T> struct SettingField {
    T (Settings::*get)() const;
    void (Settings::*set)(T);
    void (Settings::*changed)(T);
};

namespace setting {
#define VANTEL_SETTING_FIELD(name, setter, Type, ...)                                              \
    inline constexpr SettingField<Type> name{&Settings::name, &Settings::setter,                   \
                                             &Settings::name##Changed};
VANTEL_SETTINGS(VANTEL_SETTING_FIELD)
#undef VANTEL_SETTING_FIELD
} // namespace setting

} // namespace vantel
