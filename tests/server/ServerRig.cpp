#include "ServerRig.h"

#include "common/Shell.h"
#include "common/TestEnv.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QThread>
#include <QUrl>
#include <QUrlQuery>
#include <QUuid>
#include <arpa/inet.h>
#include <iostream>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vantel::test {

namespace {

std::string base64Url(const QByteArray& bytes) {
    return bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals)
        .toStdString();
}

std::string s256(const std::string& verifier) {
    return base64Url(
        QCryptographicHash::hash(QByteArray::fromStdString(verifier), QCryptographicHash::Sha256));
}

QString home() {
    return QString::fromStdString(testHome().string());
}

} // namespace

ShareProcess::ShareProcess(QStringList settings, QString dataDir)
    : m_settings(std::move(settings))
    , m_data(std::move(dataDir)) {
    if (m_data.isEmpty())
        m_data = home() + "/share-" + QUuid::createUuid().toString(QUuid::Id128).left(8);
    m_process = std::make_unique<QProcess>();
    m_process->start(QStringLiteral(VANTEL_SHARE),
                     QStringList{"--data", m_data, "--listen", "127.0.0.1:0"} + m_settings);
    QElapsedTimer clock;
    clock.start();
    QByteArray out;
    while (clock.elapsed() < 30000 && !out.contains('\n') &&
           m_process->state() != QProcess::NotRunning) {
        m_process->waitForReadyRead(200);
        out += m_process->readAllStandardOutput();
    }
    const qsizetype at = out.indexOf("127.0.0.1:");
    if (at >= 0)
        m_port = out.mid(at + 10).split('/').first().toInt();
    if (!m_port)
        std::cerr << "vantel-share did not start: " << out.toStdString()
                  << m_process->readAllStandardError().toStdString() << '\n';
}

ShareProcess::~ShareProcess() {
    stop();
}

std::string ShareProcess::base() const {
    return "http://127.0.0.1:" + std::to_string(m_port) + "/";
}

QString ShareProcess::log() const {
    if (m_process)
        m_err += m_process->readAllStandardError();
    return QString::fromUtf8(m_err);
}

std::unique_ptr<httplib::Client> ShareProcess::client() const {
    auto client = std::make_unique<httplib::Client>("127.0.0.1", m_port);
    client->set_read_timeout(60);
    return client;
}

std::string ShareProcess::invite(const QString& name) const {
    QProcess p;
    p.start(QStringLiteral(VANTEL_SHARE), QStringList{"invite", name, "--data", m_data, "--listen",
                                                      "127.0.0.1:" + QString::number(m_port)} +
                                              m_settings);
    p.waitForFinished(30000);
    if (p.exitCode() != 0) {
        std::cerr << "invite failed: " << p.readAllStandardError().toStdString() << '\n';
        return {};
    }
    return p.readAllStandardOutput().trimmed().toStdString();
}

QString ShareProcess::stop() {
    if (!m_process)
        return {};
    ::kill(pid_t(m_process->processId()), SIGTERM);
    if (!m_process->waitForFinished(30000)) {
        m_process->kill();
        m_process->waitForFinished();
    }
    log();
    m_process.reset();
    m_port = 0;
    QString report;
    for (const QString& line : QString::fromUtf8(m_err).split('\n'))
        if (line.contains("AddressSanitizer") || line.contains("runtime error:") ||
            line.contains("LeakSanitizer"))
            report += line + '\n';
    return report;
}

std::string rawExchange(int port, const std::string& request) {
    const int socket = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(uint16_t(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string answer;
    if (::connect(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::send(socket, request.data(), request.size(), 0) == ssize_t(request.size())) {
        timeval wait{2, 0};
        ::setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
        char chunk[4096];
        ssize_t got = 0;
        while ((got = ::recv(socket, chunk, sizeof chunk, 0)) > 0)
            answer.append(chunk, size_t(got));
    }
    ::close(socket);
    return answer;
}

Pkce Pkce::make() {
    QByteArray bytes(32, Qt::Uninitialized);
    for (char& byte : bytes)
        byte = char(QRandomGenerator::global()->bounded(256));
    Pkce pkce;
    pkce.verifier = base64Url(bytes);
    pkce.challenge = s256(pkce.verifier);
    return pkce;
}

std::string codeFromCallback(const std::string& location) {
    const std::string prefix = "vantelrecord://auth?code=";
    if (location.rfind(prefix, 0) != 0)
        return {};
    return location.substr(prefix.size());
}

std::string signInByInvite(ShareProcess& server, const QString& name) {
    const std::string link = server.invite(name);
    const Pkce pkce = Pkce::make();
    auto client = server.client();
    const auto redeemed = client->Post(
        "/auth/invite", httplib::Params{{"challenge", pkce.challenge}, {"invite", link}});
    if (!redeemed || redeemed->status != 303) {
        std::cerr << "the invitation was refused\n";
        return {};
    }
    const std::string code = codeFromCallback(redeemed->get_header_value("Location"));
    const std::string body = R"({"code":")" + code + R"(","verifier":")" + pkce.verifier + R"("})";
    const auto token = client->Post("/api/app/token", body, "application/json");
    if (!token || token->status != 200) {
        std::cerr << "the token exchange failed\n";
        return {};
    }
    const qsizetype start = QByteArray::fromStdString(token->body).indexOf("\"token\":\"") + 9;
    return QByteArray::fromStdString(token->body).mid(start, 43).toStdString();
}

std::string uploadClip(ShareProcess& server, const std::string& token, const QByteArray& file,
                       const QByteArray& thumb, const std::string& title) {
    auto client = server.client();
    const httplib::Headers auth{{"Authorization", "Bearer " + token}};
    const std::string body = R"({"title":")" + title +
                             R"(","game":"Deep Rock Galactic","duration":3.0,"width":640,)"
                             R"("height":360,"size":)" +
                             std::to_string(file.size()) + R"(,"preview":false})";
    const auto created = client->Post("/api/clips", auth, body, "application/json");
    if (!created || created->status != 201) {
        std::cerr << "create failed: " << (created ? created->body : "no answer") << '\n';
        return {};
    }
    const QByteArray reply = QByteArray::fromStdString(created->body);
    const qsizetype at = reply.indexOf("\"id\":\"") + 6;
    const std::string id = reply.mid(at, reply.indexOf('"', at) - at).toStdString();
    const qsizetype sizeAt = reply.indexOf("\"partSize\":") + 11;
    const qint64 partSize = reply.mid(sizeAt).split(',').first().split('}').first().toLongLong();
    qint64 parts = 0;
    for (qint64 offset = 0; offset < file.size(); offset += partSize) {
        const QByteArray part = file.mid(offset, partSize);
        const auto sent =
            client->Put(("/api/clips/" + id + "/video/" + std::to_string(++parts)).c_str(), auth,
                        part.constData(), size_t(part.size()), "video/mp4");
        if (!sent || sent->status != 200) {
            std::cerr << "part failed: " << (sent ? sent->body : "no answer") << '\n';
            return {};
        }
    }
    if (!thumb.isEmpty())
        client->Put(("/api/clips/" + id + "/thumb").c_str(), auth, thumb.constData(),
                    size_t(thumb.size()), "image/jpeg");
    const auto done = client->Post(("/api/clips/" + id + "/done").c_str(), auth,
                                   "{\"parts\":" + std::to_string(parts) + "}", "application/json");
    if (!done || done->status != 200) {
        std::cerr << "done failed: " << (done ? done->body : "no answer") << '\n';
        return {};
    }
    return id;
}

StandInDiscord::StandInDiscord() {
    const auto record = [this](const httplib::Request& q) {
        std::lock_guard lock(m_lock);
        m_seen.push_back({q.method, q.path, q.params});
    };
    m_server.Get(
        "/oauth2/authorize", [this, record](const httplib::Request& q, httplib::Response& r) {
            record(q);
            if (q.get_param_value("client_id") != clientId ||
                q.get_param_value("response_type") != "code" ||
                q.get_param_value("scope") != "identify" ||
                q.get_param_value("code_challenge_method") != "S256" ||
                q.get_param_value("code_challenge").size() != 43 ||
                q.get_param_value("state").empty()) {
                r.status = 400;
                return;
            }
            const std::string code = Pkce::make().verifier.substr(0, 30);
            {
                std::lock_guard lock(m_lock);
                m_challenges[code] = q.get_param_value("code_challenge");
                m_redirects[code] = q.get_param_value("redirect_uri");
            }
            QUrl target(QString::fromStdString(q.get_param_value("redirect_uri")));
            QUrlQuery query;
            query.addQueryItem("code", QString::fromStdString(code));
            query.addQueryItem("state", QString::fromStdString(q.get_param_value("state")));
            target.setQuery(query);
            r.set_redirect(target.toString(QUrl::FullyEncoded).toStdString(), 302);
        });
    m_server.Post(
        "/api/oauth2/token", [this, record](const httplib::Request& q, httplib::Response& r) {
            record(q);
            std::lock_guard lock(m_lock);
            const std::string code = q.get_param_value("code");
            const bool known = m_challenges.count(code) == 1;
            if (!known || q.get_param_value("client_id") != clientId ||
                q.get_param_value("client_secret") != clientSecret ||
                q.get_param_value("grant_type") != "authorization_code" ||
                q.get_param_value("redirect_uri") != m_redirects[code] ||
                s256(q.get_param_value("code_verifier")) != m_challenges[code]) {
                r.status = 400;
                r.set_content(R"({"error":"invalid_grant"})", "application/json");
                return;
            }
            m_challenges.erase(code);
            ++m_exchanges;
            r.set_content(R"({"access_token":"at-)" + code +
                              R"(","token_type":"Bearer","expires_in":604800,"scope":"identify"})",
                          "application/json");
        });
    m_server.Get("/api/users/@me", [this, record](const httplib::Request& q, httplib::Response& r) {
        record(q);
        if (q.get_header_value("Authorization").rfind("Bearer at-", 0) != 0) {
            r.status = 401;
            return;
        }
        r.set_content(userJson, "application/json");
    });
    m_port = m_server.bind_to_any_port("127.0.0.1");
    m_thread = std::thread([this] { m_server.listen_after_bind(); });
}

StandInDiscord::~StandInDiscord() {
    m_server.stop();
    m_thread.join();
}

std::string StandInDiscord::base() const {
    return "http://127.0.0.1:" + std::to_string(m_port);
}

QStringList StandInDiscord::settings() const {
    const QString at = QString::fromStdString(base());
    return {"--discord-client-id",     QString::fromStdString(clientId),
            "--discord-client-secret", QString::fromStdString(clientSecret),
            "--discord-authorize-url", at + "/oauth2/authorize",
            "--discord-token-url",     at + "/api/oauth2/token",
            "--discord-user-url",      at + "/api/users/@me"};
}

std::vector<StandInDiscord::Seen> StandInDiscord::seen() const {
    std::lock_guard lock(m_lock);
    return m_seen;
}

int StandInDiscord::exchanges() const {
    std::lock_guard lock(m_lock);
    return m_exchanges;
}

QString makeClip(const QString& name, double seconds, int width, int height, const QString& codec) {
    const QString path = home() + "/" + name;
    run("ffmpeg -nostdin -y -v error -f lavfi -i testsrc2=size=" + std::to_string(width) + "x" +
        std::to_string(height) + ":rate=30 -f lavfi -i sine=frequency=440 -t " +
        std::to_string(seconds) + " -c:v " + codec.toStdString() +
        (codec == "libx264" ? " -preset ultrafast -pix_fmt yuv420p" : "") +
        " -c:a aac -movflags +faststart '" + path.toStdString() + "'");
    return path;
}

QString makeJpeg(const QString& name, int width, int height) {
    const QString path = home() + "/" + name;
    run("ffmpeg -nostdin -y -v error -f lavfi -i testsrc2=size=" + std::to_string(width) + "x" +
        std::to_string(height) + " -frames:v 1 '" + path.toStdString() + "'");
    return path;
}

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace vantel::test
