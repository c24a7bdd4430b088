#pragma once

// A client of the desktop's global shortcuts portal (org.freedesktop.portal.GlobalShortcuts):
// the way a program gets key combinations on a Wayland desktop, where no program may grab keys
// itself. The program names its shortcuts and suggests a trigger for each; the desktop decides
// (it may ask the user) and reports presses as Activated signals.
//
// Portals let a session bind its shortcuts once, so every bind() opens a session of its own and
// closes the one before. Requests are answered through Request objects whose Response signal is
// subscribed before each call.
//
// Thread: main thread; every call returns at once, answers arrive through the event loop.
// Without a portal, or with one that lacks the interface, availability() turns `missing` and
// binds do nothing.

#include <QDBusMessage>
#include <QList>
#include <QMap>
#include <QObject>
#include <QString>
#include <QVariantMap>
#include <functional>

namespace vantel::platform {

class GlobalShortcutsPortal : public QObject {
    Q_OBJECT
public:
    struct Shortcut {
        QString id;
        QString description;      // what the desktop shows the user
        QString preferredTrigger; // in the freedesktop shortcuts notation, e.g. "ALT+SHIFT+c"
    };
    enum class Availability { unknown, available, missing };

    // `service` is the portal's bus name: the desktop's org.freedesktop.portal.Desktop, or a
    // stand-in's (in tests, where the real portal serves the other interfaces). Asks at once
    // whether the interface is there.
    explicit GlobalShortcutsPortal(const QString& service, QObject* parent = nullptr);
    ~GlobalShortcutsPortal() override;

    Availability availability() const { return m_availability; }

    // Binds exactly these shortcuts in a new session, after closing the session of an earlier
    // bind; an empty list only closes it. A bind asked while an earlier one is still waiting for
    // its answers replaces it.
    void bind(const QList<Shortcut>& shortcuts);

signals:
    void availabilityChanged();
    // A bound shortcut was pressed.
    void activated(const QString& id);
    // The answer to a bind: the bound shortcut ids with the desktop's text for each trigger;
    // empty when the user or the desktop refused.
    void bound(const QMap<QString, QString>& triggers);

public slots:
    // The portal's Activated signal (session, shortcut id, timestamp, options), taken whole.
    void onActivated(const QDBusMessage& signal);

private:
    using Answer = std::function<void(uint response, const QVariantMap& results)>;
    void setAvailability(Availability availability);
    void createSession(int generation);
    void bindInSession(int generation);
    void closeSession();
    // Calls a method of the interface whose last argument is its options; `answered` gets the
    // Response of its Request object, or 2 (ended otherwise) when the call itself failed.
    void call(const QString& method, QList<QVariant> arguments, QVariantMap options,
              Answer answered);

    QString m_service;
    Availability m_availability = Availability::unknown;
    QList<Shortcut> m_wanted;
    QString m_session; // the open session's object path; empty when none
    int m_generation = 0;
    int m_tokens = 0;
};

} // namespace vantel::platform
