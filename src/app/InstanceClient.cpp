#include "InstanceClient.h"

#include <QLocalSocket>

namespace vantel::InstanceClient {

namespace {
constexpr int kConnectMs = 2000;

// The next complete line from the socket, without its "\n"; nothing when none came within
// `quietMs` or the connection ended (`ended` tells which).
std::optional<QByteArray> readLine(QLocalSocket& socket, QByteArray& buffer, int quietMs,
                                   bool& ended) {
    while (!buffer.contains('\n')) {
        if (buffer.size() > instance::kMaxLine)
            return std::nullopt;
        if (socket.bytesAvailable() == 0 && !socket.waitForReadyRead(quietMs)) {
            ended = socket.state() != QLocalSocket::ConnectedState ||
                    socket.error() == QLocalSocket::PeerClosedError;
            if (socket.bytesAvailable() == 0)
                return std::nullopt;
        }
        buffer += socket.readAll();
    }
    const qsizetype end = buffer.indexOf('\n');
    QByteArray line = buffer.left(end);
    buffer.remove(0, end + 1);
    return line;
}
} // namespace

Answer ask(const QString& socketPath, const instance::Request& request, int quietMs,
           const std::function<void(const QString&)>& progress) {
    QLocalSocket socket;
    socket.connectToServer(socketPath);
    if (!socket.waitForConnected(kConnectMs))
        return {Answer::Kind::notRunning, {}};
    socket.write(request.encode());
    if (!socket.waitForBytesWritten(kConnectMs))
        return {Answer::Kind::cutOff, {}};
    QByteArray buffer;
    for (;;) {
        bool ended = false;
        const std::optional<QByteArray> line = readLine(socket, buffer, quietMs, ended);
        if (!line)
            return {ended ? Answer::Kind::cutOff : Answer::Kind::silent, {}};
        if (const std::optional<instance::Progress> step = instance::Progress::decode(*line)) {
            if (progress && !step->text.isEmpty())
                progress(step->text);
            continue;
        }
        if (const std::optional<instance::Reply> reply = instance::Reply::decode(*line))
            return {Answer::Kind::replied, *reply};
        return {Answer::Kind::cutOff, {}};
    }
}

std::optional<instance::Reply> send(const QString& socketPath, const instance::Request& request,
                                    int quietMs) {
    const Answer answer = ask(socketPath, request, quietMs);
    if (answer.kind != Answer::Kind::replied)
        return std::nullopt;
    return answer.reply;
}

bool reachable(const QString& socketPath) {
    QLocalSocket socket;
    socket.connectToServer(socketPath);
    return socket.waitForConnected(kConnectMs);
}

QString failureText(Answer::Kind kind) {
    switch (kind) {
    case Answer::Kind::notRunning:
        return QStringLiteral("Vantel Record is not running.");
    case Answer::Kind::silent:
        return QStringLiteral("Vantel Record stopped answering. If it stays stuck, quit it and "
                              "start it again.");
    case Answer::Kind::cutOff:
    case Answer::Kind::replied:
        break;
    }
    return QStringLiteral("Vantel Record ended before it answered.");
}

} // namespace vantel::InstanceClient
