#pragma once

// A loopback stand-in for the sharing service: an HTTP/1.1 server on 127.0.0.1 that speaks the
// service's protocol, records every request and can be told to fail.
//
// Protocol (paths below basePath): "GET /auth/app?challenge=C" redirects (302) to
// "vantelrecord://auth?code=K" and remembers K for C; "POST /api/app/token" answers a token and a
// user when base64url(SHA-256( verifier)) equals the code's challenge (codes are single-use), else
// 400; "/api/clips..." needs a token it issued (else 401) and answers create, parts, preview,
// thumb, done, delete and rename as the client expects. The parts of each clip are hashed in
// arrival order, so a test compares what arrived with the file it shared without the service
// keeping the bytes.
//
// Failing on command: script() queues replies for one method and path (a trailing "*" matches
// any path with that prefix); each matching request takes the next queued reply instead of the
// protocol's answer, until the queue is empty. A reply can drop the connection or come late.
//
// Threads: lives on the thread that created it and serves from that thread's event loop (the
// client's network stack runs on its own thread, so a test awaiting a request keeps serving).

#include <QByteArray>
#include <QCryptographicHash>
#include <QHash>
#include <QList>
#include <QMap>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTcpServer>
#include <QUrl>
#include <functional>

class QTcpSocket;

namespace vantel::test {

class TestService : public QObject {
    Q_OBJECT
public:
    struct Request {
        QByteArray method;
        QByteArray path;                      // with the query
        QMap<QByteArray, QByteArray> headers; // names in lower case
        qint64 bodySize = 0;
        QByteArray bodyHash;      // SHA-256, hex
        QByteArray body;          // kept up to 64 KiB
        bool outsideBase = false; // the path was not below basePath (answered 404)
    };

    struct Reply {
        int status = 200;
        QByteArray body;
        QByteArray type = "application/json";
        bool drop = false;   // close the connection instead of answering
        int delayMs = 0;     // answer this late
        QByteArray location; // a "location" header when not empty
    };

    struct Upload {
        QByteArray createBody;
        int parts = 0; // parts stored, in order
        QCryptographicHash video{QCryptographicHash::Sha256};
        QByteArray previewHash;
        QByteArray thumbHash;
        bool done = false;
        QByteArray videoHash() const { return video.result().toHex(); }
    };

    explicit TestService(QObject* parent = nullptr);
    ~TestService() override;

    // Listens on 127.0.0.1 (`port` 0: any free port). False when it cannot.
    bool listen(quint16 port = 0);
    quint16 port() const { return m_server.serverPort(); }
    // "http://127.0.0.1:<port>" + basePath + "/".
    QUrl base() const;
    // The path the service lives under, as a self-hosted one behind a proxy ("/self/hosted"; empty:
    // the root). Requests below it are recorded and scripted with this prefix removed; requests
    // anywhere else are recorded as they came, marked outsideBase, and answered 404.
    QString basePath;

    void script(const QByteArray& method, const QString& path, QList<Reply> replies);
    // Forgets requests, scripts, uploads, codes and tokens; restores the default settings.
    void reset();

    const QList<Request>& requests() const { return m_requests; }
    QList<Request> requestsTo(const QByteArray& method, const QByteArray& pathPrefix) const;
    const Upload* upload(const QString& id) const;
    QString lastClipId() const { return m_lastClipId; }

    // Protocol settings.
    qint64 partSize = 5'000'000;
    QString doneUrl; // empty: base + "c/<id>"
    QByteArray userJson = R"({"id":"u-1","name":"Player One","avatar":null})";
    bool checkAuthorization = true;

    // A token the service accepts, as if a sign-in had happened.
    QString issueToken();
    void acceptToken(const QString& token) { m_tokens.insert(token); }
    bool tokenValid(const QString& token) const { return m_tokens.contains(token); }
    // Remembers a one-time code for `challenge` as the sign-in page does; returns the code.
    QString issueCode(const QString& challenge);
    // The code from following the sign-in page's redirect for `page` (the address a browser
    // was sent to); empty when it is not a sign-in page with a challenge.
    QString signInCodeFor(const QUrl& page);

    // Called after every recorded request (for the program's log).
    std::function<void(const Request&)> onRequest;

private:
    struct Connection;
    void accept();
    void readFrom(QTcpSocket* socket);
    bool parseHead(Connection& connection);
    void finishRequest(QTcpSocket* socket, Connection& connection);
    Reply answer(const Request& request, Connection& connection);
    Reply clips(const Request& request, Connection& connection);
    Reply token(const Request& request);
    void send(QTcpSocket* socket, const Reply& reply);

    QTcpServer m_server;
    QHash<QTcpSocket*, Connection*> m_connections;
    QList<Request> m_requests;
    QList<QPair<QPair<QByteArray, QString>, QList<Reply>>> m_scripts;
    QMap<QString, Upload*> m_uploads;
    QHash<QString, QString> m_codes; // code -> challenge
    QSet<QString> m_tokens;
    QString m_lastClipId;
    int m_counter = 0;
};

// base64url without padding of SHA-256(verifier): the S256 challenge.
QString challengeFor(const QString& verifier);

} // namespace vantel::test
