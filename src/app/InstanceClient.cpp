#include "InstanceClient.h"

#include <QElapsedTimer>
#include <QLocalSocket>

namespace vantel::InstanceClient {

namespace {
constexpr int kConnectMs = 2000;
} // namespace

std::optional<instance::Reply> send(const QString& socketPath, const instance::Request& request,
                                    int waitMs) {
    QLocalSocket socket;
    socket.connectToServer(socketPath);
    if (!socket.waitForConnected(kConnectMs))
        return std::nullopt;
    socket.write(request.encode());
    if (!socket.waitForBytesWritten(kConnectMs))
        return std::nullopt;
    QByteArray line;
    QElapsedTimer clock;
    clock.start();
    while (!line.contains('\n') && line.size() <= instance::kMaxLine) {
        const int left = waitMs - int(clock.elapsed());
        if (socket.bytesAvailable() == 0 && (left <= 0 || !socket.waitForReadyRead(left)))
            break;
        line += socket.readAll();
    }
    return instance::Reply::decode(line.left(line.indexOf('\n')));
}

bool reachable(const QString& socketPath) {
    QLocalSocket socket;
    socket.connectToServer(socketPath);
    return socket.waitForConnected(kConnectMs);
}

} // namespace vantel::InstanceClient
