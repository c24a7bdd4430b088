#pragma once

// Tells when the machine has woken from sleep: logind announces PrepareForSleep(true) before
// suspending and PrepareForSleep(false) after resuming, on the system bus. Only logind's own
// signal counts; the same signal from any other sender is ignored.
//
// Without a system bus (containers, minimal sessions) the watcher stays inactive and never
// signals. The bus address follows DBUS_SYSTEM_BUS_ADDRESS, so tests can run a private bus.
//
// Thread: main thread; `woke` is emitted there.

#include <QObject>

namespace vantel::platform {

class SleepWatcher : public QObject {
    Q_OBJECT
public:
    explicit SleepWatcher(QObject* parent = nullptr);

    // The system bus answered and the subscription is in place.
    bool active() const { return m_active; }

signals:
    void woke();

private slots:
    void prepareForSleep(bool sleeping);

private:
    bool m_active = false;
};

} // namespace vantel::platform
