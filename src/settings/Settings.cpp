#include "Settings.h"

#include "AppPaths.h"
#include "Notifications.h"

#include <QDir>
#include <QFileInfo>
#include <limits>
#include <optional>

namespace vantel {

namespace {

constexpr int kCaptureAnnouncementDelayMs = 600;

// How each type of option is read from the file, written to it, and shown as text. Values are
// written as they always were: numbers and switches as QVariants of their type, enumerations as
// their raw text, the shortcut as two unsigned numbers.

std::optional<qlonglong> readInteger(const QSettings& store, const char* key) {
    const QVariant value = store.value(QLatin1String(key));
    if (!value.isValid())
        return std::nullopt;
    bool ok = false;
    const qlonglong number = value.toString().trimmed().toLongLong(&ok);
    return ok ? std::optional(number) : std::nullopt;
}

int load(const QSettings& store, const char* key, int fallback) {
    const std::optional<qlonglong> number = readInteger(store, key);
    if (!number || *number < std::numeric_limits<int>::min() ||
        *number > std::numeric_limits<int>::max())
        return fallback;
    return static_cast<int>(*number);
}

// "true"/"false" as the store writes them; numbers and yes/no as other writers might.
bool load(const QSettings& store, const char* key, bool fallback) {
    const QString text = store.value(QLatin1String(key)).toString().trimmed().toLower();
    if (text == QLatin1String("true") || text == QLatin1String("yes"))
        return true;
    if (text == QLatin1String("false") || text == QLatin1String("no"))
        return false;
    bool ok = false;
    const qlonglong number = text.toLongLong(&ok);
    return ok ? number != 0 : fallback;
}

std::optional<Quality> fromRaw(std::string_view raw, Quality) {
    return qualityFromRaw(raw);
}
std::optional<Codec> fromRaw(std::string_view raw, Codec) {
    return codecFromRaw(raw);
}
std::optional<CaptureMode> fromRaw(std::string_view raw, CaptureMode) {
    return captureModeFromRaw(raw);
}

template <typename Enum>
concept RawEnum = std::is_enum_v<Enum> && requires(Enum e) {
    rawValue(e);
};

template <RawEnum Enum> Enum load(const QSettings& store, const char* key, Enum fallback) {
    const std::string raw = store.value(QLatin1String(key)).toString().toStdString();
    return fromRaw(raw, fallback).value_or(fallback);
}

QString load(const QSettings& store, const char* key, const QString& fallback) {
    const QString path = store.value(QLatin1String(key)).toString();
    return path.isEmpty() ? fallback : path;
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

Hotkey load(const QSettings& store, HotkeyKeys keys, Hotkey fallback) {
    const auto code = readUInt32(store, keys.code, fallback.keyCode);
    const auto mods = readUInt32(store, keys.modifiers, fallback.modifiers);
    return code && mods ? Hotkey{*code, *mods} : fallback;
}

QString rawText(std::string_view raw) {
    return QString::fromUtf8(raw.data(), static_cast<qsizetype>(raw.size()));
}

void save(QSettings& store, const char* key, int value) {
    store.setValue(QLatin1String(key), value);
}
void save(QSettings& store, const char* key, bool value) {
    store.setValue(QLatin1String(key), value);
}
template <RawEnum Enum> void save(QSettings& store, const char* key, Enum value) {
    store.setValue(QLatin1String(key), rawText(rawValue(value)));
}
void save(QSettings& store, const char* key, const QString& value) {
    store.setValue(QLatin1String(key), value);
}
void save(QSettings& store, HotkeyKeys keys, Hotkey value) {
    store.setValue(QLatin1String(keys.code), qulonglong(value.keyCode));
    store.setValue(QLatin1String(keys.modifiers), qulonglong(value.modifiers));
}

using Entries = std::vector<std::pair<QString, QString>>;

void describe(Entries& entries, const char* key, int value) {
    entries.emplace_back(QLatin1String(key), QString::number(value));
}
void describe(Entries& entries, const char* key, bool value) {
    entries.emplace_back(QLatin1String(key),
                         value ? QStringLiteral("true") : QStringLiteral("false"));
}
template <RawEnum Enum> void describe(Entries& entries, const char* key, Enum value) {
    entries.emplace_back(QLatin1String(key), rawText(rawValue(value)));
}
void describe(Entries& entries, const char* key, const QString& value) {
    entries.emplace_back(QLatin1String(key), value);
}
void describe(Entries& entries, HotkeyKeys keys, Hotkey value) {
    entries.emplace_back(QLatin1String(keys.code), QString::number(value.keyCode));
    entries.emplace_back(QLatin1String(keys.modifiers), QString::number(value.modifiers));
}

} // namespace

Settings& Settings::shared() {
    // Never destroyed: every set has already been written to the file.
    static Settings* store = new Settings(AppPaths::configFile(), Notifications::shared());
    return *store;
}

Settings::Settings(const QString& filePath, Notifications& notifications, QObject* parent)
    : QObject(parent)
    , m_store(filePath, QSettings::IniFormat)
    , m_notifications(notifications) {
    QDir().mkpath(QFileInfo(filePath).absolutePath());
    m_pending.setSingleShot(true);
    m_pending.setTimerType(Qt::PreciseTimer);
    m_pending.setInterval(kCaptureAnnouncementDelayMs);
    connect(&m_pending, &QTimer::timeout, &m_notifications, &Notifications::captureSettingsChanged);
    load();
}

void Settings::load() {
#define VANTEL_SETTING_LOAD(name, setter, Type, key, fallback, ...)                                \
    m_##name = vantel::load(m_store, key, Type(fallback));
    VANTEL_SETTINGS(VANTEL_SETTING_LOAD)
#undef VANTEL_SETTING_LOAD
}

void Settings::announce(Announce what) {
    if (what == Announce::capture)
        m_pending.start();
    else if (what == Announce::hotkey)
        emit m_notifications.hotkeyChanged();
}

// Each set: keep the value, tell the windows, write it through, then announce.
#define VANTEL_SETTING_SET(name, setter, Type, key, fallback, announcement)                        \
    void Settings::setter(Type value) {                                                            \
        m_##name = value;                                                                          \
        emit name##Changed(value);                                                                 \
        save(m_store, key, value);                                                                 \
        m_store.sync();                                                                            \
        announce(Announce::announcement);                                                          \
    }
VANTEL_SETTINGS(VANTEL_SETTING_SET)
#undef VANTEL_SETTING_SET

CaptureConfig Settings::captureConfig() const {
    return {m_bufferSeconds, m_maxHeight, m_fps,       m_quality,
            m_codec,         m_mode,      m_recordMic, m_showCursor};
}

Entries Settings::entries() const {
    Entries entries;
#define VANTEL_SETTING_DESCRIBE(name, setter, Type, key, ...) describe(entries, key, m_##name);
    VANTEL_SETTINGS(VANTEL_SETTING_DESCRIBE)
#undef VANTEL_SETTING_DESCRIBE
    return entries;
}

QStringList Settings::extraGames() {
    // Picks up writes made through other stores on the same file; cheap when nothing changed.
    m_store.sync();
    const QVariant value = m_store.value(QLatin1String(settingsKey::extraGames));
    QStringList games;
    const int type = value.typeId();
    if (type == QMetaType::QStringList || type == QMetaType::QString ||
        type == QMetaType::QVariantList)
        games = value.toStringList();
    games.removeAll(QString());
    return games;
}

void Settings::setExtraGames(const QStringList& games) {
    m_store.setValue(QLatin1String(settingsKey::extraGames), games);
    m_store.sync();
    emit m_notifications.extraGamesChanged();
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

} // namespace vantel
