#include "platform/hotkeys/wayland/GlobalShortcutsPortal.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>

namespace vantel::platform::portal {

// One entry of the a(sa{sv}) shortcut lists.
struct ShortcutEntry {
    QString id;
    QVariantMap properties;
};

} // namespace vantel::platform::portal

Q_DECLARE_METATYPE(vantel::platform::portal::ShortcutEntry)

namespace vantel::platform {

namespace portal {

QDBusArgument& operator<<(QDBusArgument& out, const ShortcutEntry& entry) {
    out.beginStructure();
    out << entry.id << entry.properties;
    out.endStructure();
    return out;
}

const QDBusArgument& operator>>(const QDBusArgument& in, ShortcutEntry& entry) {
    in.beginStructure();
    in >> entry.id >> entry.properties;
    in.endStructure();
    return in;
}

} // namespace portal

namespace {

using portal::ShortcutEntry;

const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");
constexpr uint kEndedOtherwise = 2;

// Receives the Response of one portal request, then goes.
class PortalRequest : public QObject {
    Q_OBJECT
public:
    PortalRequest(QString service, QString path,
                  std::function<void(uint, const QVariantMap&)> answered, QObject* parent)
        : QObject(parent)
        , m_service(std::move(service))
        , m_path(std::move(path))
        , m_answered(std::move(answered)) {
        QDBusConnection::sessionBus().connect(
            m_service, m_path, QStringLiteral("org.freedesktop.portal.Request"),
            QStringLiteral("Response"), this, SLOT(Response(uint, QVariantMap)));
    }
    ~PortalRequest() override {
        QDBusConnection::sessionBus().disconnect(
            m_service, m_path, QStringLiteral("org.freedesktop.portal.Request"),
            QStringLiteral("Response"), this, SLOT(Response(uint, QVariantMap)));
    }
    void finish(uint response, const QVariantMap& results) {
        if (!m_answered)
            return;
        auto answered = std::exchange(m_answered, nullptr);
        deleteLater();
        answered(response, results);
    }

public slots:
    void Response(uint response, const QVariantMap& results) { finish(response, results); }

private:
    QString m_service;
    QString m_path;
    std::function<void(uint, const QVariantMap&)> m_answered;
};

// The request path the portal makes from our unique bus name and the token.
QString requestPath(const QString& token) {
    QString sender = QDBusConnection::sessionBus().baseService().mid(1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    return kPath + QStringLiteral("/request/") + sender + QLatin1Char('/') + token;
}

QString sessionHandle(const QVariant& value) {
    if (value.canConvert<QDBusObjectPath>())
        return value.value<QDBusObjectPath>().path();
    return value.toString();
}

QMap<QString, QString> triggersOf(const QVariant& value) {
    QList<ShortcutEntry> entries;
    if (value.canConvert<QDBusArgument>())
        value.value<QDBusArgument>() >> entries;
    QMap<QString, QString> triggers;
    for (const ShortcutEntry& entry : entries)
        triggers.insert(entry.id, entry.properties.value("trigger_description").toString());
    return triggers;
}

} // namespace

GlobalShortcutsPortal::GlobalShortcutsPortal(const QString& service, QObject* parent)
    : QObject(parent)
    , m_service(service) {
    qDBusRegisterMetaType<ShortcutEntry>();
    qDBusRegisterMetaType<QList<ShortcutEntry>>();
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.connect(m_service, kPath, kInterface, QStringLiteral("Activated"), this,
                SLOT(onActivated(QDBusMessage)));
    QDBusMessage get = QDBusMessage::createMethodCall(
        m_service, kPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << kInterface << QStringLiteral("version");
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(get), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        const QDBusPendingReply<QDBusVariant> reply = *w;
        setAvailability(reply.isError() ? Availability::missing : Availability::available);
    });
}

GlobalShortcutsPortal::~GlobalShortcutsPortal() {
    closeSession();
}

void GlobalShortcutsPortal::setAvailability(Availability availability) {
    if (availability == m_availability)
        return;
    m_availability = availability;
    emit availabilityChanged();
}

void GlobalShortcutsPortal::call(const QString& method, QList<QVariant> arguments,
                                 QVariantMap options, Answer answered) {
    const QString token = QStringLiteral("vantel_%1").arg(++m_tokens);
    options.insert(QStringLiteral("handle_token"), token);
    auto* request = new PortalRequest(m_service, requestPath(token), std::move(answered), this);
    QDBusMessage message = QDBusMessage::createMethodCall(m_service, kPath, kInterface, method);
    message.setArguments(arguments << options);
    auto* watcher =
        new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(message), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, request](QDBusPendingCallWatcher* w) {
                w->deleteLater();
                if (!w->isError())
                    return;
                if (w->error().type() == QDBusError::UnknownInterface ||
                    w->error().type() == QDBusError::UnknownMethod ||
                    w->error().type() == QDBusError::ServiceUnknown)
                    setAvailability(Availability::missing);
                request->finish(kEndedOtherwise, {});
            });
}

void GlobalShortcutsPortal::bind(const QList<Shortcut>& shortcuts) {
    const int generation = ++m_generation;
    closeSession();
    m_wanted = shortcuts;
    if (!m_wanted.isEmpty() && m_availability != Availability::missing)
        createSession(generation);
}

void GlobalShortcutsPortal::createSession(int generation) {
    const QVariantMap options{
        {QStringLiteral("session_handle_token"), QStringLiteral("vantel_%1").arg(m_tokens + 1)}};
    call(QStringLiteral("CreateSession"), {}, options,
         [this, generation](uint response, const QVariantMap& results) {
             const QString session = sessionHandle(results.value("session_handle"));
             if (generation != m_generation) {
                 // A later bind replaced this one while the portal was answering.
                 if (!session.isEmpty())
                     QDBusConnection::sessionBus().asyncCall(QDBusMessage::createMethodCall(
                         m_service, session, QStringLiteral("org.freedesktop.portal.Session"),
                         QStringLiteral("Close")));
                 return;
             }
             if (response != 0 || session.isEmpty()) {
                 // A desktop without the portal refused nothing: it has no shortcuts to give,
                 // which the shell tells in its own way.
                 if (m_availability != Availability::missing)
                     emit bound({});
                 return;
             }
             m_session = session;
             bindInSession(generation);
         });
}

void GlobalShortcutsPortal::bindInSession(int generation) {
    QList<ShortcutEntry> entries;
    for (const Shortcut& s : m_wanted) {
        QVariantMap properties{{QStringLiteral("description"), s.description}};
        if (!s.preferredTrigger.isEmpty())
            properties.insert(QStringLiteral("preferred_trigger"), s.preferredTrigger);
        entries.append({s.id, properties});
    }
    call(QStringLiteral("BindShortcuts"),
         {QVariant::fromValue(QDBusObjectPath(m_session)), QVariant::fromValue(entries), QString()},
         {}, [this, generation](uint response, const QVariantMap& results) {
             if (generation != m_generation)
                 return;
             emit bound(response == 0 ? triggersOf(results.value("shortcuts"))
                                      : QMap<QString, QString>());
         });
}

void GlobalShortcutsPortal::closeSession() {
    // A portal that outlives the application (a process-wide grabber) finds the bus gone; the
    // portal closes the sessions of a client that left by itself.
    if (m_session.isEmpty() || !QCoreApplication::instance())
        return;
    QDBusConnection::sessionBus().asyncCall(QDBusMessage::createMethodCall(
        m_service, std::exchange(m_session, QString()),
        QStringLiteral("org.freedesktop.portal.Session"), QStringLiteral("Close")));
}

void GlobalShortcutsPortal::onActivated(const QDBusMessage& signal) {
    const QList<QVariant> arguments = signal.arguments();
    if (arguments.size() < 2 || m_session.isEmpty())
        return;
    if (sessionHandle(arguments[0]) == m_session)
        emit activated(arguments[1].toString());
}

} // namespace vantel::platform

#include "GlobalShortcutsPortal.moc"
