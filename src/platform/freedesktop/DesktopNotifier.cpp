#include "platform/freedesktop/DesktopNotifier.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

namespace vantel::platform {

void DesktopNotifier::notify(const QString& title, const QString& body, bool problem,
                             int timeoutMs) {
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    const QVariantMap hints{
        {QStringLiteral("urgency"), QVariant::fromValue(uchar(problem ? 1 : 0))},
        {QStringLiteral("transient"), true},
        {QStringLiteral("desktop-entry"), QStringLiteral("vantel-record")},
    };
    call << QStringLiteral("Vantel Record") << m_lastId << QStringLiteral("vantel-record") << title
         << body.toHtmlEscaped() << QStringList() << hints << timeoutMs;
    auto* watcher =
        new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher* finished) {
                const QDBusPendingReply<uint> reply = *finished;
                finished->deleteLater();
                if (reply.isError())
                    return;
                m_lastId = reply.value();
                emit shown(m_lastId);
            });
}

} // namespace vantel::platform
