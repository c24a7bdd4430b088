#pragma once

// What the user sees of the program: whether recording runs, the one-line status, whether the
// user paused recording, and a newer version found by the update check. The tray menu and the
// windows read it; the application controller writes it.
//
// "paused" survives restarts: every assignment writes the new value to the store at once, so a
// program quit while paused starts paused.
//
// Threads: main thread only.

#include <QObject>
#include <QSettings>
#include <QString>
#include <QUrl>
#include <optional>

namespace vantel {

struct AppUpdate {
    QString version;
    QUrl url;
    bool operator==(const AppUpdate&) const = default;
};

class AppState : public QObject {
    Q_OBJECT
public:
    // A state whose pause switch lives under "paused" in `store` (absent or unreadable: false).
    // The store must outlive the state.
    explicit AppState(QSettings& store, QObject* parent = nullptr);

    bool recording() const { return m_recording; }
    QString statusLine() const { return m_statusLine; }
    bool paused() const { return m_paused; }
    std::optional<AppUpdate> update() const { return m_update; }

    void setRecording(bool recording);
    void setStatusLine(const QString& line);
    // Writes "paused" at once, also when the value is unchanged.
    void setPaused(bool paused);
    // Never cleared while the program runs.
    void setUpdate(const AppUpdate& update);

    // A flag of the store ("paused", "onboarded") as the settings store writes it ("true" or
    // "false"; yes/no and numbers as other writers might). Absent or unreadable: false.
    static bool readFlag(const QSettings& store, const char* key);
    static void writeFlag(QSettings& store, const char* key, bool on);

signals:
    // Any field changed.
    void changed();

private:
    QSettings& m_store;
    bool m_recording = false;
    QString m_statusLine = QStringLiteral("Starting");
    bool m_paused = false;
    std::optional<AppUpdate> m_update;
};

} // namespace vantel
