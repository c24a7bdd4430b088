#include "platform/freedesktop/DesktopNotifier.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

namespace vantel::platform {

void DesktopNotifier::notify(const QString& title, const QString& body, bool problem,
                             int timeoutMs) {
    Message message{title, body, problem, timeoutMs};
    if (m_waiting) {
        m_next = std::move(message);
        return;
    }
    send(message);
}

void DesktopNotifier::send(const Message& message) {
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    const QVariantMap hints{
        {QStringLiteral("urgency"), QVariant::fromValue(uchar(message.problem ? 1 : 0))},
        {QStringLiteral("transient"), true},
        {QStringLiteral("desktop-entry"), QStringLiteral("vantel-record")},
    };
    call << QStringLiteral("Vantel Record") << m_lastId << QStringLiteral("vantel-record")
         << message.title << message.body.toHtmlEscaped() << QStringList() << hints
         << message.timeoutMs;
    m_waiting = true;
    auto* watcher =
        new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher* finished) {
                const QDBusPendingReply<uint> reply = *finished;
                finished->deleteLater();
                m_waiting = false;
                if (!reply.isError()) {
                    m_lastId = reply.value();
                    emit shown(m_lastId);
                }
                if (m_next)
                    send(*std::exchange(m_next, std::nullopt));
            });
}

} // namespace vantel::platform
