#pragma once

// The application's notifications: how the settings store tells the controller and the game
// detector that the recording options, the save shortcut or the extra games changed, without
// either knowing the other.
//
// Threads: lives on the thread that made it (the main thread); the settings store emits on it.
// Connections made from other threads are queued as Qt queues any signal.

#include <QObject>

namespace vantel {

class Notifications : public QObject {
    Q_OBJECT
public:
    explicit Notifications(QObject* parent = nullptr);

    // The program's centre, on the application's thread; created on first use, never
    // destroyed. For the program's start only: everything else is handed its centre.
    static Notifications& shared();

signals:
    // Something that shapes the recording changed; emitted once after a burst of changes
    // settles.
    void captureSettingsChanged();
    // The save shortcut changed; emitted at once, inside the setter.
    void hotkeyChanged();
    // The user's list of extra games was written; the game detector rescans.
    void extraGamesChanged();
};

} // namespace vantel
