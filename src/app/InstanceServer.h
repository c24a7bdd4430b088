#pragma once

// The running program's end of the instance protocol (InstanceProtocol.h): accepts connections on
// the socket, reads one request, runs the handler registered for its command and writes the
// reply. Requests are served concurrently; a client that goes away early only loses its reply.
// While a handler works, the client gets a heartbeat every instance::kHeartbeatMs and whatever
// progress the handler reports.
//
// Threads: main thread; handlers run there, and their progress sink is called there.

#include "InstanceProtocol.h"

#include <QCoro/QCoroTask>
#include <QHash>
#include <QLocalServer>
#include <QObject>
#include <functional>

class QLocalSocket;

namespace vantel {

class InstanceServer : public QObject {
    Q_OBJECT
public:
    using Handler = std::function<QCoro::Task<instance::Reply>(QStringList arguments)>;
    // Sends a progress line to the client while it is connected; does nothing once it is gone.
    using ProgressSink = std::function<void(const QString& text)>;
    using ProgressHandler =
        std::function<QCoro::Task<instance::Reply>(QStringList arguments, ProgressSink progress)>;

    explicit InstanceServer(QObject* parent = nullptr);

    // Replaces a stale socket file and listens on `path`. False, with errorText(), when the
    // socket cannot be made.
    bool listen(const QString& path);
    QString errorText() const { return m_server.errorString(); }

    // `handler` answers every request of `command`; unknown commands get an error reply.
    void handle(const QString& command, Handler handler);
    // The same for a command that tells its progress.
    void handleWithProgress(const QString& command, ProgressHandler handler);

private:
    QCoro::Task<> serve(QLocalSocket* socket);
    QCoro::Task<instance::Reply> answer(const QByteArray& line, ProgressSink progress);

    QLocalServer m_server;
    QHash<QString, ProgressHandler> m_handlers;
};

} // namespace vantel
