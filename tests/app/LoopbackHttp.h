#pragma once

// A one-file HTTP server on the loopback interface: every GET is answered with the status and
// body set last. Lives on the thread that made it; requests are served by its event loop.

#include <QByteArray>
#include <QTcpServer>
#include <QTcpSocket>

namespace vantel::test {

class LoopbackHttp : public QTcpServer {
public:
    int status = 200;
    QByteArray body;
    int requests = 0;
    QByteArray lastPath;

    LoopbackHttp() {
        listen(QHostAddress::LocalHost);
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = nextPendingConnection())
                serve(socket);
        });
    }
    QString url(const QString& path) const {
        return QStringLiteral("http://127.0.0.1:%1/%2").arg(serverPort()).arg(path);
    }

private:
    void serve(QTcpSocket* socket) {
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
            QByteArray& seen = m_pending[socket];
            seen += socket->readAll();
            if (!seen.contains("\r\n\r\n"))
                return;
            ++requests;
            lastPath = seen.split(' ').value(1);
            m_pending.remove(socket);
            socket->write("HTTP/1.1 " + QByteArray::number(status) +
                          " X\r\nContent-Type: application/json\r\nContent-Length: " +
                          QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
            socket->disconnectFromHost();
        });
    }
    QHash<QTcpSocket*, QByteArray> m_pending;
};

} // namespace vantel::test
