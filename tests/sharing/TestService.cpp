#include "TestService.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTimer>
#include <QUrlQuery>

namespace vantel::test {

namespace {

constexpr qint64 keptBody = 64 * 1024;

QByteArray reason(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 204:
        return "No Content";
    case 302:
        return "Found";
    case 307:
        return "Temporary Redirect";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 404:
        return "Not Found";
    case 413:
        return "Payload Too Large";
    case 429:
        return "Too Many Requests";
    case 500:
        return "Internal Server Error";
    case 502:
        return "Bad Gateway";
    case 503:
        return "Service Unavailable";
    default:
        return "Status";
    }
}

TestService::Reply json(int status, const QJsonObject& object) {
    return {status, QJsonDocument(object).toJson(QJsonDocument::Compact)};
}

TestService::Reply error(int status, const QString& message) {
    return json(status, {{QStringLiteral("error"), message}});
}

TestService::Reply empty(int status = 204) {
    return {status, {}, {}};
}

// "*" inside a pattern stands for one path segment, a trailing "*" for any rest.
bool matches(const QString& pattern, const QByteArray& path) {
    QStringList pieces = pattern.split(u'*');
    for (QString& piece : pieces)
        piece = QRegularExpression::escape(piece);
    QString expression = pieces.join(QStringLiteral("[^/]*"));
    if (pattern.endsWith(u'*'))
        expression = expression.chopped(5) + QStringLiteral(".*");
    return QRegularExpression(QStringLiteral("^") + expression + QStringLiteral("$"))
        .match(QString::fromUtf8(path))
        .hasMatch();
}

} // namespace

struct TestService::Connection {
    QByteArray buffer;
    bool headDone = false;
    qint64 length = 0;
    Request request;
    QCryptographicHash hash{QCryptographicHash::Sha256};
    Upload* feedVideo = nullptr; // the upload whose video hash takes this body
    int scripted = -1;           // index of the matching script, if any
};

QString challengeFor(const QString& verifier) {
    return QString::fromLatin1(
        QCryptographicHash::hash(verifier.toUtf8(), QCryptographicHash::Sha256)
            .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

TestService::TestService(QObject* parent)
    : QObject(parent) {
    connect(&m_server, &QTcpServer::newConnection, this, &TestService::accept);
}

TestService::~TestService() {
    // The sockets die with the server after this body; their last signals must not reach us.
    for (auto it = m_connections.begin(); it != m_connections.end(); ++it) {
        it.key()->disconnect(this);
        delete it.value();
    }
    m_connections.clear();
    qDeleteAll(m_uploads);
}

bool TestService::listen(quint16 port) {
    return m_server.listen(QHostAddress::LocalHost, port);
}

QUrl TestService::base() const {
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2/").arg(port()).arg(basePath));
}

void TestService::script(const QByteArray& method, const QString& path, QList<Reply> replies) {
    m_scripts.append({{method, path}, std::move(replies)});
}

void TestService::reset() {
    m_requests.clear();
    m_scripts.clear();
    qDeleteAll(m_uploads);
    m_uploads.clear();
    m_codes.clear();
    m_tokens.clear();
    m_lastClipId.clear();
    partSize = 5'000'000;
    doneUrl.clear();
    userJson = R"({"id":"u-1","name":"Player One","avatar":null})";
    checkAuthorization = true;
}

QList<TestService::Request> TestService::requestsTo(const QByteArray& method,
                                                    const QByteArray& pathPrefix) const {
    QList<Request> found;
    for (const Request& request : m_requests)
        if (request.method == method && request.path.startsWith(pathPrefix))
            found.append(request);
    return found;
}

const TestService::Upload* TestService::upload(const QString& id) const {
    return m_uploads.value(id, nullptr);
}

QString TestService::issueToken() {
    QString token = QStringLiteral("tok-%1-%2")
                        .arg(++m_counter)
                        .arg(QRandomGenerator::global()->generate64(), 0, 16);
    m_tokens.insert(token);
    return token;
}

QString TestService::issueCode(const QString& challenge) {
    QString code = QStringLiteral("code-%1").arg(++m_counter);
    m_codes.insert(code, challenge);
    return code;
}

QString TestService::signInCodeFor(const QUrl& page) {
    QUrlQuery query(page);
    if (page.path() != basePath + QLatin1String("/auth/app") ||
        !query.hasQueryItem(QStringLiteral("challenge")))
        return {};
    return issueCode(query.queryItemValue(QStringLiteral("challenge")));
}

void TestService::accept() {
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        m_connections.insert(socket, new Connection);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readFrom(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            delete m_connections.take(socket);
            socket->deleteLater();
        });
    }
}

bool TestService::parseHead(Connection& c) {
    qsizetype end = c.buffer.indexOf("\r\n\r\n");
    if (end < 0)
        return false;
    QList<QByteArray> lines = c.buffer.left(end).split('\n');
    c.buffer.remove(0, end + 4);
    QList<QByteArray> first = lines.takeFirst().trimmed().split(' ');
    c.request = Request{first.value(0), first.value(1), {}, 0, {}, {}, false};
    const QByteArray prefix = basePath.toUtf8() + '/';
    if (c.request.path.startsWith(prefix))
        c.request.path.remove(0, prefix.size() - 1);
    else
        c.request.outsideBase = !basePath.isEmpty();
    for (const QByteArray& line : lines) {
        qsizetype colon = line.indexOf(':');
        if (colon > 0)
            c.request.headers.insert(line.left(colon).trimmed().toLower(),
                                     line.mid(colon + 1).trimmed());
    }
    c.length = c.request.headers.value("content-length", "0").toLongLong();
    c.hash.reset();
    c.headDone = true;
    c.scripted = -1;
    for (int i = 0; i < m_scripts.size() && c.scripted < 0 && !c.request.outsideBase; ++i)
        if (m_scripts[i].first.first == c.request.method &&
            matches(m_scripts[i].first.second, c.request.path) && !m_scripts[i].second.isEmpty())
            c.scripted = i;
    c.feedVideo = nullptr;
    QList<QByteArray> parts = c.request.path.split('/');
    if (c.scripted < 0 && !c.request.outsideBase && c.request.method == "PUT" &&
        parts.size() == 6 && parts[4] == "video") {
        Upload* upload = m_uploads.value(QString::fromUtf8(parts[3]), nullptr);
        if (upload && parts[5].toInt() == upload->parts + 1)
            c.feedVideo = upload;
    }
    return true;
}

void TestService::readFrom(QTcpSocket* socket) {
    Connection* c = m_connections.value(socket);
    if (!c)
        return;
    c->buffer.append(socket->readAll());
    while (true) {
        if (!c->headDone && !parseHead(*c))
            return;
        qint64 take = std::min<qint64>(c->length - c->request.bodySize, c->buffer.size());
        QByteArrayView chunk(c->buffer.constData(), take);
        c->hash.addData(chunk);
        if (c->feedVideo)
            c->feedVideo->video.addData(chunk);
        if (c->request.bodySize < keptBody)
            c->request.body.append(
                chunk.first(std::min<qint64>(take, keptBody - c->request.bodySize)));
        c->request.bodySize += take;
        c->buffer.remove(0, take);
        if (c->request.bodySize < c->length)
            return;
        finishRequest(socket, *c);
        if (c->buffer.isEmpty())
            return;
    }
}

void TestService::finishRequest(QTcpSocket* socket, Connection& c) {
    c.headDone = false;
    c.request.bodyHash = c.hash.result().toHex();
    if (c.request.bodySize > keptBody)
        c.request.body.clear();
    m_requests.append(c.request);
    if (onRequest)
        onRequest(c.request);
    Reply reply;
    if (c.request.outsideBase)
        reply = error(404, QStringLiteral("Not below this service's address."));
    else if (c.scripted >= 0)
        reply = m_scripts[c.scripted].second.takeFirst();
    else
        reply = answer(c.request, c);
    if (reply.drop) {
        // The head of an answer, then nothing: a connection lost mid-reply, which the client's
        // network stack does not quietly send again (it does when nothing came back at all).
        // Closed later: aborting here would delete the connection while readFrom() uses it.
        socket->write("HTTP/1.1 200 OK\r\ncontent-length: 1000\r\n\r\ncut");
        socket->flush();
        QMetaObject::invokeMethod(socket, &QTcpSocket::abort, Qt::QueuedConnection);
        return;
    }
    if (reply.delayMs > 0) {
        QPointer<QTcpSocket> guarded(socket);
        QTimer::singleShot(reply.delayMs, this, [this, guarded, reply] {
            if (guarded)
                send(guarded, reply);
        });
        return;
    }
    send(socket, reply);
}

void TestService::send(QTcpSocket* socket, const Reply& reply) {
    QByteArray head = "HTTP/1.1 " + QByteArray::number(reply.status) + ' ' + reason(reply.status) +
                      "\r\ncontent-length: " + QByteArray::number(reply.body.size()) + "\r\n";
    if (!reply.type.isEmpty() && !reply.body.isEmpty())
        head += "content-type: " + reply.type + "\r\n";
    if (!reply.location.isEmpty())
        head += "location: " + reply.location + "\r\n";
    socket->write(head + "\r\n" + reply.body);
}

TestService::Reply TestService::answer(const Request& request, Connection& c) {
    const QUrl url(QString::fromUtf8(request.path));
    if (request.method == "GET" && url.path() == QLatin1String("/auth/app")) {
        const QUrlQuery query(url);
        if (!query.hasQueryItem(QStringLiteral("challenge")))
            return error(400, QStringLiteral("No challenge."));
        const QString code = issueCode(query.queryItemValue(QStringLiteral("challenge")));
        Reply redirect = empty(302);
        redirect.location = "vantelrecord://auth?code=" + code.toUtf8();
        return redirect;
    }
    if (request.method == "POST" && url.path() == QLatin1String("/api/app/token"))
        return token(request);
    if (request.method == "POST" && url.path() == QLatin1String("/api/app/logout")) {
        m_tokens.remove(QString::fromUtf8(request.headers.value("authorization").mid(7)));
        return empty();
    }
    if (url.path().startsWith(QLatin1String("/api/clips")))
        return clips(request, c);
    return error(404, QStringLiteral("Not found."));
}

TestService::Reply TestService::token(const Request& request) {
    QJsonObject body = QJsonDocument::fromJson(request.body).object();
    const QString code = body.value(QStringLiteral("code")).toString();
    const QString verifier = body.value(QStringLiteral("verifier")).toString();
    if (!m_codes.contains(code) || m_codes.value(code) != challengeFor(verifier))
        return error(400, QStringLiteral("That sign-in has expired. Try again."));
    m_codes.remove(code);
    QJsonObject reply{{QStringLiteral("token"), issueToken()},
                      {QStringLiteral("user"), QJsonDocument::fromJson(userJson).object()}};
    return json(200, reply);
}

TestService::Reply TestService::clips(const Request& request, Connection& c) {
    const QByteArray authorization = request.headers.value("authorization");
    if (checkAuthorization && (!authorization.startsWith("Bearer ") ||
                               !tokenValid(QString::fromUtf8(authorization.mid(7)))))
        return error(401, QStringLiteral("Your sign-in has expired."));
    QList<QByteArray> parts = request.path.split('/'); // "", "api", "clips", id, what, n
    const QString id = QString::fromUtf8(parts.value(3));
    if (request.method == "POST" && parts.size() == 3) {
        m_lastClipId = QStringLiteral("clip-%1").arg(++m_counter);
        auto* upload = new Upload;
        upload->createBody = request.body;
        m_uploads.insert(m_lastClipId, upload);
        return json(200, {{QStringLiteral("id"), m_lastClipId},
                          {QStringLiteral("partSize"), partSize},
                          {QStringLiteral("url"),
                           base().toString() + QStringLiteral("c/") + m_lastClipId}});
    }
    Upload* upload = m_uploads.value(id, nullptr);
    if (request.method == "DELETE" || request.method == "PATCH")
        return upload ? empty() : error(404, QStringLiteral("No such clip."));
    if (!upload)
        return error(404, QStringLiteral("No such clip."));
    const QByteArray what = parts.value(4);
    if (request.method == "PUT" && what == "video") {
        if (c.feedVideo != upload)
            return error(400, QStringLiteral("Parts out of order."));
        ++upload->parts;
        return empty();
    }
    if (request.method == "PUT" && what == "preview") {
        upload->previewHash = request.bodyHash;
        return empty();
    }
    if (request.method == "PUT" && what == "thumb") {
        upload->thumbHash = request.bodyHash;
        return empty();
    }
    if (request.method == "POST" && what == "done") {
        upload->done = true;
        QString link = doneUrl.isEmpty() ? base().toString() + QStringLiteral("c/") + id : doneUrl;
        return json(200, {{QStringLiteral("url"), link}});
    }
    return error(404, QStringLiteral("Not found."));
}

} // namespace vantel::test
