#include "AppState.h"

#include "settings/Settings.h"

namespace vantel {

AppState::AppState(QSettings& store, QObject* parent)
    : QObject(parent)
    , m_store(store) {
    m_paused = readFlag(m_store, settingsKey::paused);
}

bool AppState::readFlag(const QSettings& store, const char* key) {
    const QString text = store.value(QLatin1String(key)).toString().trimmed().toLower();
    if (text == QLatin1String("true") || text == QLatin1String("yes"))
        return true;
    bool ok = false;
    return text.toLongLong(&ok) != 0 && ok;
}

void AppState::writeFlag(QSettings& store, const char* key, bool on) {
    store.setValue(QLatin1String(key), on ? QStringLiteral("true") : QStringLiteral("false"));
    store.sync();
}

void AppState::setRecording(bool recording) {
    if (recording == m_recording)
        return;
    m_recording = recording;
    emit changed();
}

void AppState::setStatusLine(const QString& line) {
    if (line == m_statusLine)
        return;
    m_statusLine = line;
    emit changed();
}

void AppState::setPaused(bool paused) {
    writeFlag(m_store, settingsKey::paused, paused);
    if (paused == m_paused)
        return;
    m_paused = paused;
    emit changed();
}

void AppState::setUpdate(const AppUpdate& update) {
    if (m_update == update)
        return;
    m_update = update;
    emit changed();
}

} // namespace vantel
