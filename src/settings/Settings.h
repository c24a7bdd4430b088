#pragma once

// The user's choices while the application runs. Every option is loaded once, when the store is
// created, from an INI file; each set writes the option back at once (even an unchanged value)
// and tells the rest of the application:
// - a Qt signal per option, for windows showing it;
// - "captureSettingsChanged" once a burst of changes to something that shapes the recording has
//   settled for 0.6 seconds (each such change restarts the wait);
// - "hotkeyChanged" at once, before setSaveHotkey returns.
// The store checks no ranges: the settings window offers only sensible values.
//
// Threads: main thread only; the notifications are posted on it.
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

// The keys of the store. Other parts of the application keep their own values beside these.
namespace settingsKey {
inline constexpr char bufferSeconds[] = "bufferSeconds";
inline constexpr char maxHeight[] = "maxHeight";
inline constexpr char fps[] = "fps";
inline constexpr char quality[] = "quality";
inline constexpr char codec[] = "codec";
inline constexpr char mode[] = "mode";
inline constexpr char recordMic[] = "recordMic";
inline constexpr char showCursor[] = "showCursor";
inline constexpr char playSound[] = "playSound";
inline constexpr char autoShare[] = "autoShare";
inline constexpr char hkCode[] = "hkCode";
inline constexpr char hkMods[] = "hkMods";
inline constexpr char folder[] = "folder";
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

class Settings : public QObject {
    Q_OBJECT
public:
    // The program's store, on AppPaths::configFile(); created on first use, never destroyed.
    static Settings& shared();

    // A store over the INI file at `filePath` (created with its folder on the first write).
    // Values absent from the file, and values that cannot be read as their type, take the
    // defaults: 30 s, 1440 lines, 60 fps, high, H.264, games only, no microphone, no cursor,
    // sound on, no automatic sharing, Alt+Shift+C, the videos folder + "Vantel Record".
    // Enumeration strings other than the exact raw values load as high, h264 and games. A
    // shortcut whose "hkCode" or "hkMods" is not a number in 0..4294967295 loads as the default
    // shortcut as a whole: half of a foreign pair names no sensible key. An empty "folder" counts
    // as absent; any other stored path is used as it stands, even when nothing exists there.
    explicit Settings(const QString& filePath, QObject* parent = nullptr);

    int bufferSeconds() const { return m_bufferSeconds; }
    int maxHeight() const { return m_maxHeight; }
    int fps() const { return m_fps; }
    Quality quality() const { return m_quality; }
    Codec codec() const { return m_codec; }
    CaptureMode mode() const { return m_mode; }
    bool recordMic() const { return m_recordMic; }
    bool showCursor() const { return m_showCursor; }
    bool playSound() const { return m_playSound; }
    bool copyLinkAfterClip() const { return m_copyLinkAfterClip; }
    Hotkey saveHotkey() const { return m_saveHotkey; }
    QString folder() const { return m_folder; }

    // These eight announce "captureSettingsChanged" after the debounce.
    void setBufferSeconds(int seconds);
    void setMaxHeight(int height);
    void setFps(int fps);
    void setQuality(Quality quality);
    void setCodec(Codec codec);
    void setMode(CaptureMode mode);
    void setRecordMic(bool on);
    void setShowCursor(bool on);
    // These announce nothing.
    void setPlaySound(bool on);
    void setCopyLinkAfterClip(bool on);
    void setFolder(const QString& path);
    // Writes "hkCode" then "hkMods", then posts "hotkeyChanged".
    void setSaveHotkey(Hotkey hotkey);

    // What a capture run is built from, as the options stand now.
    CaptureConfig captureConfig() const;

    // Every persisted option with its key, in a fixed order, as text ("true"/"false", raw
    // enumeration values, plain numbers and paths).
    std::vector<std::pair<QString, QString>> entries() const;

    // The user's extra games, read afresh from the shared store's file at every call, so a
    // write by any store on that file is seen. Absent: empty. The INI file cannot tell a
    // one-item list from a plain string, so a lone string is a one-item list; empty entries are
    // dropped.
    static QStringList extraGames();
    // Stores the whole list, then posts "extraGamesChanged" before returning.
    static void setExtraGames(const QStringList& games);

    // The screen-cast portal's restore token ("" when none is kept), read and written through
    // a store of their own on the shared store's file: unlike everything else here, any thread
    // may call them (the capture backend asks from its own threads).
    static std::string screenCastToken();
    static void setScreenCastToken(const std::string& token);

    // The underlying store, for the keys other parts of the application own ("onboarded",
    // "paused", "user"). Main thread only.
    QSettings& store() { return m_store; }

signals:
    void bufferSecondsChanged(int seconds);
    void maxHeightChanged(int height);
    void fpsChanged(int fps);
    void qualityChanged(vantel::Quality quality);
    void codecChanged(vantel::Codec codec);
    void modeChanged(vantel::CaptureMode mode);
    void recordMicChanged(bool on);
    void showCursorChanged(bool on);
    void playSoundChanged(bool on);
    void copyLinkAfterClipChanged(bool on);
    void saveHotkeyChanged(vantel::Hotkey hotkey);
    void folderChanged(const QString& path);

private:
    void load();
    void loadSaveHotkey();
    void write(const char* key, const QVariant& value);
    void scheduleCaptureAnnouncement();

    QSettings m_store;
    // The capture announcement waiting to run; restarted by every capture-affecting set.
    QTimer m_pending;

    // Filled by load().
    int m_bufferSeconds;
    int m_maxHeight;
    int m_fps;
    Quality m_quality;
    Codec m_codec;
    CaptureMode m_mode;
    bool m_recordMic;
    bool m_showCursor;
    bool m_playSound;
    bool m_copyLinkAfterClip;
    Hotkey m_saveHotkey;
    QString m_folder;
};

} // namespace vantel
