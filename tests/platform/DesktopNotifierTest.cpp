// Desktop notifications on a private session bus, against a notification server of our own that
// hands out a new id for every message that replaces none: a burst of messages, asked for before
// the server answered the first, still ends as one notification, each replacing the one before.

#include "platform/freedesktop/DesktopNotifier.h"

#include "SystemBus.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QElapsedTimer>
#include <gtest/gtest.h>

namespace vantel {
namespace {

class Server : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Shown {
        uint replaces;
        QString summary;
        QString body;
    };
    QList<Shown> shown;
    uint nextId = 7;

public slots:
    uint Notify(const QString&, uint replaces, const QString&, const QString& summary,
                const QString& body, const QStringList&, const QVariantMap&, int) {
        shown.append({replaces, summary, body});
        return replaces ? replaces : nextId++;
    }
};

bool waitUntil(const std::function<bool()>& done) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

TEST(DesktopNotifier, ABurstReplacesTheOneNotificationInsteadOfStacking) {
    e2e::PrivateSessionBus bus;
    Server server;
    QDBusConnection connection = QDBusConnection::sessionBus();
    ASSERT_TRUE(connection.registerService("org.freedesktop.Notifications"));
    ASSERT_TRUE(connection.registerObject("/org/freedesktop/Notifications", &server,
                                          QDBusConnection::ExportAllSlots));
    platform::DesktopNotifier notifier;
    notifier.notify("Clip saved", "Racer · 0:30", false, 3000);
    notifier.notify("Link copied", "https://vantel.example/c/1", false, 3000);
    notifier.notify("Couldn't save the clip", "Disk full", true, 3000);
    ASSERT_TRUE(waitUntil([&] { return server.shown.size() == 2; }));
    QCoreApplication::processEvents();
    ASSERT_EQ(server.shown.size(), 2) << "the middle message was overtaken before it was sent";
    EXPECT_EQ(server.shown[0].replaces, 0u);
    EXPECT_EQ(server.shown[0].summary, "Clip saved");
    EXPECT_EQ(server.shown[1].replaces, 7u);
    EXPECT_EQ(server.shown[1].summary, "Couldn't save the clip");
    EXPECT_EQ(server.shown[1].body, "Disk full");

    notifier.notify("Clip saved", "Racer · 0:12", false, 3000);
    ASSERT_TRUE(waitUntil([&] { return server.shown.size() == 3; }));
    EXPECT_EQ(server.shown[2].replaces, 7u);
    EXPECT_EQ(server.nextId, 8u) << "one notification in all";
    connection.unregisterObject("/org/freedesktop/Notifications");
    connection.unregisterService("org.freedesktop.Notifications");
}

} // namespace
} // namespace vantel

#include "DesktopNotifierTest.moc"
