#pragma once

// Named application notifications, the way the settings store tells the controller that the
// recording options or the save shortcut changed, without either knowing the other.
//
// Threads: the centre lives on the main thread. post() on the main thread reaches every observer
// before it returns; from another thread, observers whose context lives on the main thread are
// reached through the main event loop.

#include <QObject>
#include <QString>
#include <functional>

namespace vantel {

namespace notification {
// Something that shapes the recording changed; posted once after a burst of changes settles.
inline constexpr char captureSettingsChanged[] = "captureSettingsChanged";
// The save shortcut changed; posted at once, inside the setter.
inline constexpr char hotkeyChanged[] = "hotkeyChanged";
// The user's list of extra games was written; the game detector rescans.
inline constexpr char extraGamesChanged[] = "extraGamesChanged";
} // namespace notification

class Notifications : public QObject {
    Q_OBJECT
public:
    static Notifications& shared();

    void post(const QString& name);

    // Calls `callback` in `context`'s thread for every post of `name`, until `context` is
    // destroyed or the returned connection is disconnected.
    QMetaObject::Connection observe(const QString& name, const QObject* context,
                                    std::function<void()> callback);

signals:
    void posted(const QString& name);

private:
    Notifications() = default;
};

} // namespace vantel
