#include "InstanceServer.h"

#include <QCoro/QCoroLocalSocket>
#include <QLocalSocket>
#include <QPointer>
#include <QTimer>
#include <chrono>

namespace vantel {

namespace {
using namespace std::chrono_literals;
// A client that sends nothing for this long is dropped.
constexpr auto kReadLimit = 5s;
} // namespace

InstanceServer::InstanceServer(QObject* parent)
    : QObject(parent) {
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = m_server.nextPendingConnection())
            serve(socket);
    });
}

bool InstanceServer::listen(const QString& path) {
    QLocalServer::removeServer(path);
    return m_server.listen(path);
}

void InstanceServer::handle(const QString& command, Handler handler) {
    handleWithProgress(command,
                       [handler = std::move(handler)](QStringList arguments, ProgressSink) {
                           return handler(std::move(arguments));
                       });
}

void InstanceServer::handleWithProgress(const QString& command, ProgressHandler handler) {
    m_handlers.insert(command, std::move(handler));
}

QCoro::Task<> InstanceServer::serve(QLocalSocket* socket) {
    QPointer<QLocalSocket> alive(socket);
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    QByteArray line;
    while (alive && !line.contains('\n') && line.size() <= instance::kMaxLine &&
           socket->state() == QLocalSocket::ConnectedState) {
        const QByteArray chunk = co_await qCoro(socket).read(instance::kMaxLine, kReadLimit);
        if (chunk.isEmpty())
            break;
        line += chunk;
    }
    if (!alive)
        co_return;
    ProgressSink progress = [alive](const QString& text) {
        if (alive && alive->state() == QLocalSocket::ConnectedState)
            alive->write(instance::Progress{text}.encode());
    };
    QTimer heartbeat;
    heartbeat.setInterval(instance::kHeartbeatMs);
    connect(&heartbeat, &QTimer::timeout, socket, [progress] { progress({}); });
    heartbeat.start();
    auto answering = answer(line, progress);
    const instance::Reply reply = co_await std::move(answering);
    heartbeat.stop();
    if (!alive)
        co_return;
    socket->write(reply.encode());
    socket->flush();
    socket->disconnectFromServer();
}

QCoro::Task<instance::Reply> InstanceServer::answer(const QByteArray& line, ProgressSink progress) {
    const std::optional<instance::Request> request =
        instance::Request::decode(line.left(line.indexOf('\n')));
    if (!request)
        co_return instance::Reply::failure({QStringLiteral("Unreadable request.")});
    const auto handler = m_handlers.constFind(request->command);
    if (handler == m_handlers.constEnd())
        co_return instance::Reply::failure(
            {QStringLiteral("Unknown request: ") + request->command});
    auto handling = (*handler)(request->arguments, std::move(progress));
    co_return co_await std::move(handling);
}

} // namespace vantel
