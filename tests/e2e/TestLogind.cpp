// A stand-in for logind on a private system bus: it owns org.freedesktop.login1 and sends
// org.freedesktop.login1.Manager.PrepareForSleep from /org/freedesktop/login1 when told to on
// standard input ("sleep" sends true, "wake" sends false). It prints "ready" once it owns the
// name and "sent" after each signal has gone out.

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QSocketNotifier>
#include <cstdio>
#include <string>
#include <unistd.h>

namespace {

void say(const char* line) {
    std::printf("%s\n", line);
    std::fflush(stdout);
}

void prepareForSleep(bool sleeping) {
    QDBusMessage signal = QDBusMessage::createSignal(
        QStringLiteral("/org/freedesktop/login1"), QStringLiteral("org.freedesktop.login1.Manager"),
        QStringLiteral("PrepareForSleep"));
    signal << sleeping;
    QDBusConnection::systemBus().send(signal);
    // A round trip to the bus, so the signal has left before "sent" is printed.
    QDBusConnection::systemBus().interface()->isServiceRegistered(
        QStringLiteral("org.freedesktop.DBus"));
    say("sent");
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (!QDBusConnection::systemBus().registerService(QStringLiteral("org.freedesktop.login1"))) {
        std::fprintf(stderr, "cannot own org.freedesktop.login1 on the system bus\n");
        return 1;
    }
    say("ready");
    std::string pending;
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char buffer[256];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) {
            QCoreApplication::quit();
            return;
        }
        pending.append(buffer, size_t(n));
        for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
            const std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            if (line == "sleep" || line == "wake")
                prepareForSleep(line == "sleep");
        }
    });
    return app.exec();
}
