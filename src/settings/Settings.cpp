#include "Settings.h"

#include "AppPaths.h"
#include "Notifications.h"

#include <QDir>
#include <QFileInfo>
#include <limits>
#include <optional>

namespace vantel {

namespace {

// The values an absent key reads as.
constexpr int kDefaultBufferSeconds = 30;
constexpr int kDefaultMaxHeight = 1440;
constexpr int kDefaultFps = 60;
constexpr bool kDefaultRecordMic = false;
constexpr bool kDefaultShowCursor = false;
constexpr bool kDefaultPlaySound = true;
constexpr bool kDefaultAutoShare = false;

constexpr int kCaptureAnnouncementDelayMs = 600;

std::optional<qlonglong> readInteger(const QSettings& store, const char* key) {
    const QVariant value = store.value(QLatin1String(key));
    if (!value.isValid())
        return std::nullopt;
    bool ok = false;
    const qlonglong number = value.toString().trimmed().toLongLong(&ok);
    return ok ? std::optional(number) : std::nullopt;
}

int readInt(const QSettings& store, const char* key, int fallback) {
    const std::optional<qlonglong> number = readInteger(store, key);
    if (!number || *number < std::numeric_limits<int>::min() ||
        *number > std::numeric_limits<int>::max())
        return fallback;
    return static_cast<int>(*number);
}

// "true"/"false" as the store writes them; numbers and yes/no as other writers might.
bool readBool(const QSettings& store, const char* key, bool fallback) {
    const QString text = store.value(QLatin1String(key)).toString().trimmed().toLower();
    if (text == QLatin1String("true") || text == QLatin1String("yes"))
        return true;
    if (text == QLatin1String("false") || text == QLatin1String("no"))
        return false;
    bool ok = false;
    const qlonglong number = text.toLongLong(&ok);
    return ok ? number != 0 : fallback;
}

std::optional<std::uint32_t> readUInt32(const QSettings& store, const char* key,
                                        std::uint32_t fallback) {
    if (!store.contains(QLatin1String(key)))
        return fallback;
    const std::optional<qlonglong> number = readInteger(store, key);
    if (!number || *number < 0 || *number > qlonglong(std::numeric_limits<std::uint32_t>::max()))
        return std::nullopt;
    return static_cast<std::uint32_t>(*number);
}

std::string rawString(const QSettings& store, const char* key) {
    return store.value(QLatin1String(key)).toString().toStdString();
}

QString boolText(bool on) {
    return on ? QStringLiteral("true") : QStringLiteral("false");
}

QString rawText(std::string_view raw) {
    return QString::fromUtf8(raw.data(), static_cast<qsizetype>(raw.size()));
}

} // namespace

Settings& Settings::shared() {
    // Never destroyed: every set has already been written to the file.
    static Settings* store = new Settings(AppPaths::configFile());
    return *store;
}

Settings::Settings(const QString& filePath, QObject* parent)
    : QObject(parent)
    , m_store(filePath, QSettings::IniFormat) {
    QDir().mkpath(QFileInfo(filePath).absolutePath());
    m_pending.setSingleShot(true);
    m_pending.setTimerType(Qt::PreciseTimer);
    m_pending.setInterval(kCaptureAnnouncementDelayMs);
    connect(&m_pending, &QTimer::timeout, this, [] {
        Notifications::shared().post(QLatin1String(notification::captureSettingsChanged));
    });
    load();
}

void Settings::load() {
    m_bufferSeconds = readInt(m_store, settingsKey::bufferSeconds, kDefaultBufferSeconds);
    m_maxHeight = readInt(m_store, settingsKey::maxHeight, kDefaultMaxHeight);
    m_fps = readInt(m_store, settingsKey::fps, kDefaultFps);
    m_quality = qualityFromRaw(rawString(m_store, settingsKey::quality)).value_or(Quality::high);
    m_codec = codecFromRaw(rawString(m_store, settingsKey::codec)).value_or(Codec::h264);
    m_mode = captureModeFromRaw(rawString(m_store, settingsKey::mode)).value_or(CaptureMode::games);
    m_recordMic = readBool(m_store, settingsKey::recordMic, kDefaultRecordMic);
    m_showCursor = readBool(m_store, settingsKey::showCursor, kDefaultShowCursor);
    m_playSound = readBool(m_store, settingsKey::playSound, kDefaultPlaySound);
    m_copyLinkAfterClip = readBool(m_store, settingsKey::autoShare, kDefaultAutoShare);
    loadSaveHotkey();
    m_folder = m_store.value(QLatin1String(settingsKey::folder)).toString();
    if (m_folder.isEmpty())
        m_folder = AppPaths::defaultClipFolder();
}

void Settings::loadSaveHotkey() {
    const Hotkey fallback = Hotkey::defaultSave();
    const auto code = readUInt32(m_store, settingsKey::hkCode, fallback.keyCode);
    const auto mods = readUInt32(m_store, settingsKey::hkMods, fallback.modifiers);
    m_saveHotkey = code && mods ? Hotkey{*code, *mods} : fallback;
}

void Settings::write(const char* key, const QVariant& value) {
    m_store.setValue(QLatin1String(key), value);
    m_store.sync();
}

void Settings::scheduleCaptureAnnouncement() {
    m_pending.start();
}

void Settings::setBufferSeconds(int seconds) {
    m_bufferSeconds = seconds;
    emit bufferSecondsChanged(seconds);
    write(settingsKey::bufferSeconds, seconds);
    scheduleCaptureAnnouncement();
}

void Settings::setMaxHeight(int height) {
    m_maxHeight = height;
    emit maxHeightChanged(height);
    write(settingsKey::maxHeight, height);
    scheduleCaptureAnnouncement();
}

void Settings::setFps(int fps) {
    m_fps = fps;
    emit fpsChanged(fps);
    write(settingsKey::fps, fps);
    scheduleCaptureAnnouncement();
}

void Settings::setQuality(Quality quality) {
    m_quality = quality;
    emit qualityChanged(quality);
    write(settingsKey::quality, rawText(rawValue(quality)));
    scheduleCaptureAnnouncement();
}

void Settings::setCodec(Codec codec) {
    m_codec = codec;
    emit codecChanged(codec);
    write(settingsKey::codec, rawText(rawValue(codec)));
    scheduleCaptureAnnouncement();
}

void Settings::setMode(CaptureMode mode) {
    m_mode = mode;
    emit modeChanged(mode);
    write(settingsKey::mode, rawText(rawValue(mode)));
    scheduleCaptureAnnouncement();
}

void Settings::setRecordMic(bool on) {
    m_recordMic = on;
    emit recordMicChanged(on);
    write(settingsKey::recordMic, on);
    scheduleCaptureAnnouncement();
}

void Settings::setShowCursor(bool on) {
    m_showCursor = on;
    emit showCursorChanged(on);
    write(settingsKey::showCursor, on);
    scheduleCaptureAnnouncement();
}

void Settings::setPlaySound(bool on) {
    m_playSound = on;
    emit playSoundChanged(on);
    write(settingsKey::playSound, on);
}

void Settings::setCopyLinkAfterClip(bool on) {
    m_copyLinkAfterClip = on;
    emit copyLinkAfterClipChanged(on);
    write(settingsKey::autoShare, on);
}

void Settings::setFolder(const QString& path) {
    m_folder = path;
    emit folderChanged(path);
    write(settingsKey::folder, path);
}

void Settings::setSaveHotkey(Hotkey hotkey) {
    m_saveHotkey = hotkey;
    emit saveHotkeyChanged(hotkey);
    m_store.setValue(QLatin1String(settingsKey::hkCode), qulonglong(hotkey.keyCode));
    write(settingsKey::hkMods, qulonglong(hotkey.modifiers));
    Notifications::shared().post(QLatin1String(notification::hotkeyChanged));
}

CaptureConfig Settings::captureConfig() const {
    return {m_bufferSeconds, m_maxHeight, m_fps,       m_quality,
            m_codec,         m_mode,      m_recordMic, m_showCursor};
}

std::vector<std::pair<QString, QString>> Settings::entries() const {
    return {
        {settingsKey::bufferSeconds, QString::number(m_bufferSeconds)},
        {settingsKey::maxHeight, QString::number(m_maxHeight)},
        {settingsKey::fps, QString::number(m_fps)},
        {settingsKey::quality, rawText(rawValue(m_quality))},
        {settingsKey::codec, rawText(rawValue(m_codec))},
        {settingsKey::mode, rawText(rawValue(m_mode))},
        {settingsKey::recordMic, boolText(m_recordMic)},
        {settingsKey::showCursor, boolText(m_showCursor)},
        {settingsKey::playSound, boolText(m_playSound)},
        {settingsKey::autoShare, boolText(m_copyLinkAfterClip)},
        {settingsKey::hkCode, QString::number(m_saveHotkey.keyCode)},
        {settingsKey::hkMods, QString::number(m_saveHotkey.modifiers)},
        {settingsKey::folder, m_folder},
    };
}

QStringList Settings::extraGames() {
    QSettings& store = shared().store();
    // Picks up writes made through other stores on the same file; cheap when nothing changed.
    store.sync();
    const QVariant value = store.value(QLatin1String(settingsKey::extraGames));
    QStringList games;
    const int type = value.typeId();
    if (type == QMetaType::QStringList || type == QMetaType::QString ||
        type == QMetaType::QVariantList)
        games = value.toStringList();
    games.removeAll(QString());
    return games;
}

std::string Settings::screenCastToken() {
    QSettings store(AppPaths::configFile(), QSettings::IniFormat);
    return store.value(QLatin1String(settingsKey::screenCastToken)).toString().toStdString();
}

void Settings::setScreenCastToken(const std::string& token) {
    QSettings store(AppPaths::configFile(), QSettings::IniFormat);
    if (token.empty())
        store.remove(QLatin1String(settingsKey::screenCastToken));
    else
        store.setValue(QLatin1String(settingsKey::screenCastToken), QString::fromStdString(token));
    store.sync();
}

void Settings::setExtraGames(const QStringList& games) {
    shared().write(settingsKey::extraGames, games);
    Notifications::shared().post(QLatin1String(notification::extraGamesChanged));
}

} // namespace vantel
