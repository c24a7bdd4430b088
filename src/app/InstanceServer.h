#pragma once

// The running program's end of the instance protocol (InstanceProtocol.h): accepts connections on
// the socket, reads one request, runs the handler registered for its command and writes the
// reply. Requests are served concurrently; a client that goes away early only loses its reply.
//
// Threads: main thread; handlers run there.

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

    explicit InstanceServer(QObject* parent = nullptr);

    // Replaces a stale socket file and listens on `path`. False, with errorText(), when the
    // socket cannot be made.
    bool listen(const QString& path);
    QString errorText() const { return m_server.errorString(); }

    // `handler` answers every request of `command`; unknown commands get an error reply.
    void handle(const QString& command, Handler handler);

private:
    QCoro::Task<> serve(QLocalSocket* socket);
    QCoro::Task<instance::Reply> answer(const QByteArray& line);

    QLocalServer m_server;
    QHash<QString, Handler> m_handlers;
};

} // namespace vantel
