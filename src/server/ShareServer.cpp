#include "ShareServer.h"

#include "Http.h"
#include "Ids.h"
#include "Pages.h"

#include <QJsonObject>
#include <QUrlQuery>
#include <httplib.h>
#include <iostream>
#include <sys/socket.h>

namespace vantel::server {

namespace {

const QString sessionCookie = QStringLiteral("vantel_session");
const QString inviteCookie = QStringLiteral("vantel_invite");

bool isChallenge(const QString& text) {
    return text.size() == 43 && isSafeId(text.left(40)) && isSafeId(text.right(3));
}

QJsonObject userJson(const UserRecord& user) {
    QJsonObject object{{QStringLiteral("id"), user.id}, {QStringLiteral("name"), user.name}};
    object.insert(QStringLiteral("avatar"), user.avatar ? QJsonValue(*user.avatar) : QJsonValue());
    return object;
}

// The invitation key out of whatever the user pasted: the key itself or a whole link.
QString inviteKeyOf(QString text) {
    text = text.trimmed();
    const qsizetype slash = text.lastIndexOf(u'/');
    if (slash >= 0)
        text = text.mid(slash + 1);
    const qsizetype equals = text.lastIndexOf(u'=');
    if (equals >= 0)
        text = text.mid(equals + 1);
    return text;
}

void log(const httplib::Request& request, const httplib::Response& response) {
    std::cerr << request.method << ' ' << request.path << ' ' << response.status << '\n';
}

} // namespace

ShareServer::ShareServer(ServerConfig config, Catalog& catalog, BlobStore& store)
    : m_config(std::move(config))
    , m_catalog(catalog)
    , m_store(store)
    , m_discord(m_config.discord)
    , m_http(std::make_unique<httplib::Server>()) {
    const size_t threads = size_t(m_config.threads);
    m_http->new_task_queue = [threads] {
        return new httplib::ThreadPool(threads);
    };
    m_http->set_read_timeout(m_config.readTimeoutSeconds, 0);
    m_http->set_write_timeout(m_config.readTimeoutSeconds, 0);
    // A connection left open after a refused or cut-off body is dropped soon, whatever the
    // client does next.
    m_http->set_keep_alive_timeout(std::min(5, m_config.readTimeoutSeconds));
    // Bodies are size-checked by each route before they are read; this only caps the worst case.
    m_http->set_payload_max_length(size_t(m_config.clipSizeLimit) + 1);
    m_http->set_logger(log);
    // cpp-httplib listens with a backlog of 5, frozen into Debian's build: a burst of new
    // connections (64 players opening a link at once) then waits for SYN retries, a second
    // or more. The listening socket is noted here and given the system's backlog in bind().
    m_http->set_socket_options([this](socket_t socket) {
        httplib::default_socket_options(socket);
        m_listenSocket = int(socket);
    });
    m_http->set_exception_handler([](const Request& request, Response& response,
                                     std::exception_ptr failure) {
        int status = 500;
        try {
            std::rethrow_exception(failure);
        } catch (const CatalogError& e) {
            std::cerr << "vantel-share: " << request.path << ": " << e.what() << '\n';
            status = 503;
        } catch (const BlobError& e) {
            std::cerr << "vantel-share: " << request.path << ": " << e.what() << '\n';
            status = 503;
        } catch (const std::exception& e) {
            std::cerr << "vantel-share: " << request.path << ": " << e.what() << '\n';
        } catch (...) {
            std::cerr << "vantel-share: " << request.path << ": unknown failure\n";
        }
        http::error(response, status,
                    QStringLiteral("The sharing service had a problem. Try again in a moment."));
    });
    m_http->set_error_handler([](const Request& request, Response& response) {
        if (!response.body.empty())
            return;
        if (response.status == 404 && request.path.rfind("/api/", 0) != 0) {
            http::html(response, 404,
                       pages::message(QStringLiteral("Not found · Vantel Record"),
                                      QStringLiteral("Nothing here"),
                                      QStringLiteral("This address doesn't lead to a clip.")));
            return;
        }
        if (response.status == 413) {
            http::error(response, 413,
                        QStringLiteral("The upload is larger than this service "
                                       "takes."));
            return;
        }
        http::error(response, response.status,
                    QStringLiteral("The sharing service couldn't answer this request."));
    });
    routeApi();
    routeSignIn();
    routePages();
}

ShareServer::~ShareServer() = default;

bool ShareServer::bind() {
    const std::string host = m_config.listenHost.toStdString();
    if (m_config.listenPort == 0) {
        const int port = m_http->bind_to_any_port(host);
        if (port <= 0)
            return false;
        m_config.listenPort = uint16_t(port);
    } else if (!m_http->bind_to_port(host, m_config.listenPort)) {
        return false;
    }
    if (m_listenSocket >= 0)
        ::listen(m_listenSocket, SOMAXCONN);
    return true;
}

void ShareServer::listen() {
    m_http->listen_after_bind();
}

void ShareServer::stop() {
    m_http->stop();
}

void ShareServer::routeApi() {
    m_http->Post("/api/app/token", [this](const Request& q, Response& r) { token(q, r); });
    // The program posts the sign-out without a body and without Content-Length, which is an
    // empty body; httplib's plain POST handlers would wait for one and answer 400. A handler with
    // a content reader is called without reading, and this one reads nothing.
    m_http->Post("/api/app/logout",
                 [this](const Request& q, Response& r, const Reader&) { logout(q, r); });
    m_http->Post("/api/clips", [this](const Request& q, Response& r) { createClip(q, r); });
    m_http->Put(R"(/api/clips/([^/]+)/video/([^/]+))",
                [this](const Request& q, Response& r, const Reader& b) { putPart(q, r, b); });
    m_http->Put(R"(/api/clips/([^/]+)/preview)",
                [this](const Request& q, Response& r, const Reader& b) { putPreview(q, r, b); });
    m_http->Put(R"(/api/clips/([^/]+)/thumb)",
                [this](const Request& q, Response& r, const Reader& b) { putThumb(q, r, b); });
    m_http->Post(R"(/api/clips/([^/]+)/done)",
                 [this](const Request& q, Response& r) { done(q, r); });
    m_http->Delete(R"(/api/clips/([^/]+))",
                   [this](const Request& q, Response& r) { removeClip(q, r); });
    m_http->Patch(R"(/api/clips/([^/]+))",
                  [this](const Request& q, Response& r) { renameClip(q, r); });
}

void ShareServer::routeSignIn() {
    m_http->Get("/auth/app", [this](const Request& q, Response& r) { signInPage(q, r); });
    m_http->Get("/auth/discord", [this](const Request& q, Response& r) { discordStart(q, r); });
    m_http->Get("/auth/discord/callback",
                [this](const Request& q, Response& r) { discordCallback(q, r); });
    m_http->Post("/auth/invite", [this](const Request& q, Response& r) { inviteRedeem(q, r); });
    m_http->Get(R"(/auth/invite/([^/]+))",
                [this](const Request& q, Response& r) { inviteLanding(q, r); });
}

std::optional<UserRecord> ShareServer::bearerUser(const Request& request, Response& response) {
    const QString token = http::bearer(request);
    std::optional<UserRecord> user;
    if (!token.isEmpty())
        user = m_catalog.userForToken(sha256Hex(token));
    if (!user)
        http::error(response, 401, QStringLiteral("Your sign-in has ended. Sign in again."));
    return user;
}

std::optional<UserRecord> ShareServer::sessionUser(const Request& request) {
    const QString token = http::cookie(request, sessionCookie);
    if (token.isEmpty() || !isSafeId(token))
        return std::nullopt;
    return m_catalog.userForToken(sha256Hex(token));
}

void ShareServer::token(const Request& request, Response& response) {
    const std::optional<QJsonObject> body = http::jsonBody(request, response);
    if (!body)
        return;
    const QJsonValue code = body->value(QLatin1String("code"));
    const QJsonValue verifier = body->value(QLatin1String("verifier"));
    if (!code.isString() || !verifier.isString())
        return http::error(response, 400,
                           QStringLiteral("The sign-in needs a \"code\" and a \"verifier\"."));
    const std::optional<SignInCode> record =
        m_catalog.takeCode(sha256Hex(code.toString()), http::now());
    if (!record)
        return http::error(response, 400,
                           QStringLiteral("This sign-in code is unknown, used or expired. Sign "
                                          "in again."));
    if (s256(verifier.toString()) != record->challenge)
        return http::error(response, 400,
                           QStringLiteral("This sign-in was started by another program. Sign in "
                                          "again."));
    const std::optional<UserRecord> user = m_catalog.user(record->userId);
    if (!user)
        return http::error(response, 400, QStringLiteral("This account no longer exists."));
    const QString secret = randomToken(32);
    m_catalog.addToken(sha256Hex(secret), user->id, http::now());
    http::json(
        response, 200,
        QJsonObject{{QStringLiteral("token"), secret}, {QStringLiteral("user"), userJson(*user)}});
}

void ShareServer::logout(const Request& request, Response& response) {
    if (!bearerUser(request, response))
        return;
    m_catalog.removeToken(sha256Hex(http::bearer(request)));
    http::json(response, 200, {});
}

void ShareServer::signInPage(const Request& request, Response& response) {
    const QString challenge = http::query(request, "challenge");
    if (!isChallenge(challenge))
        return http::html(response, 400,
                          pages::message(QStringLiteral("Sign in · Vantel Record"),
                                         QStringLiteral("Start the sign-in from Vantel Record"),
                                         QStringLiteral("This page needs the address Vantel "
                                                        "Record opens. Choose Sign in there.")));
    QUrl discordLink = m_config.link(QStringLiteral("auth/discord"));
    discordLink.setQuery(QStringLiteral("challenge=") + challenge);
    response.set_header("Cache-Control", "no-store");
    http::html(response, 200,
               pages::signIn(challenge, m_config.discord.enabled(), discordLink.toString(),
                             http::cookie(request, inviteCookie)));
}

void ShareServer::discordStart(const Request& request, Response& response) {
    if (!m_config.discord.enabled())
        return http::html(response, 404,
                          pages::message(QStringLiteral("Sign in · Vantel Record"),
                                         QStringLiteral("No Discord sign-in here"),
                                         QStringLiteral("This service signs in by invitation.")));
    const QString challenge = http::query(request, "challenge");
    if (!challenge.isEmpty() && !isChallenge(challenge))
        return http::html(response, 400,
                          pages::message(QStringLiteral("Sign in · Vantel Record"),
                                         QStringLiteral("Start the sign-in from Vantel Record"),
                                         QStringLiteral("The sign-in address is damaged.")));
    const QString state = randomToken(24);
    const QString verifier = randomToken(32);
    m_catalog.addSignInState(state,
                             {challenge, verifier, http::now() + m_config.codeLifetimeSeconds * 2});
    QUrl target = m_config.discord.authorizeUrl;
    QUrlQuery query(target);
    query.addQueryItem(QStringLiteral("response_type"), QStringLiteral("code"));
    query.addQueryItem(QStringLiteral("client_id"), m_config.discord.clientId);
    query.addQueryItem(QStringLiteral("scope"), QStringLiteral("identify"));
    query.addQueryItem(QStringLiteral("state"), state);
    query.addQueryItem(QStringLiteral("redirect_uri"),
                       QString::fromLatin1(QUrl::toPercentEncoding(
                           m_config.link(QStringLiteral("auth/discord/callback")).toString())));
    query.addQueryItem(QStringLiteral("code_challenge"), s256(verifier));
    query.addQueryItem(QStringLiteral("code_challenge_method"), QStringLiteral("S256"));
    target.setQuery(query);
    response.set_header("Cache-Control", "no-store");
    response.set_redirect(target.toString(QUrl::FullyEncoded).toStdString(), 302);
}

void ShareServer::discordCallback(const Request& request, Response& response) {
    const auto failed = [&](const QString& text) {
        http::html(response, 400,
                   pages::message(QStringLiteral("Sign in · Vantel Record"),
                                  QStringLiteral("The sign-in didn't finish"), text));
    };
    const QString state = http::query(request, "state");
    const std::optional<SignInState> pending =
        state.isEmpty() ? std::nullopt : m_catalog.takeSignInState(state, http::now());
    if (!pending)
        return failed(QStringLiteral("This sign-in has expired or was used already. Choose Sign "
                                     "in in Vantel Record again."));
    const QString code = http::query(request, "code");
    if (code.isEmpty())
        return failed(QStringLiteral("Discord didn't let the sign-in through. Choose Sign in in "
                                     "Vantel Record to try again."));
    try {
        const DiscordUser who =
            m_discord.signIn(code, pending->discordVerifier,
                             m_config.link(QStringLiteral("auth/discord/callback")).toString());
        finishSignIn(m_catalog.signInDiscordUser(who.id, who.name, who.avatar, http::now()),
                     pending->challenge, response);
    } catch (const DiscordError& e) {
        failed(QString::fromUtf8(e.what()));
    }
}

void ShareServer::finishSignIn(const UserRecord& user, const QString& challenge,
                               Response& response) {
    const QString session = randomToken(32);
    m_catalog.addToken(sha256Hex(session), user.id, http::now());
    const bool secure = m_config.link({}).scheme() == u"https";
    response.set_header(
        "Set-Cookie",
        QStringLiteral("%1=%2; Path=/; Max-Age=31536000; HttpOnly; SameSite=Lax%3")
            .arg(sessionCookie, session, secure ? QStringLiteral("; Secure") : QString())
            .toStdString());
    response.set_header("Cache-Control", "no-store");
    if (challenge.isEmpty())
        return response.set_redirect(m_config.link(QStringLiteral("me")).toString().toStdString(),
                                     303);
    const QString code = randomToken(32);
    m_catalog.addCode(sha256Hex(code),
                      {user.id, challenge, http::now() + m_config.codeLifetimeSeconds});
    response.set_redirect(("vantelrecord://auth?code=" + code).toStdString(), 303);
}

void ShareServer::inviteRedeem(const Request& request, Response& response) {
    const QString challenge = http::query(request, "challenge");
    const QString key = inviteKeyOf(http::query(request, "invite"));
    if (!isChallenge(challenge))
        return http::html(response, 400,
                          pages::message(QStringLiteral("Sign in · Vantel Record"),
                                         QStringLiteral("Start the sign-in from Vantel Record"),
                                         QStringLiteral("The sign-in address is damaged.")));
    const std::optional<QString> name =
        isSafeId(key) ? m_catalog.takeInvite(sha256Hex(key), http::now()) : std::nullopt;
    if (!name)
        return http::html(response, 400, pages::inviteLanding({}, false));
    response.set_header("Set-Cookie",
                        QStringLiteral("%1=; Path=/; Max-Age=0").arg(inviteCookie).toStdString());
    finishSignIn(m_catalog.signInInvitedUser(*name, http::now()), challenge, response);
}

void ShareServer::inviteLanding(const Request& request, Response& response) {
    const QString key = http::match(request, 1);
    response.set_header("Cache-Control", "no-store");
    if (!isSafeId(key))
        return http::html(response, 400, pages::inviteLanding({}, false));
    // The invitation is only looked at here; it is used up when the sign-in page redeems it.
    response.set_header("Set-Cookie",
                        QStringLiteral("%1=%2; Path=/auth; Max-Age=%3; HttpOnly; SameSite=Lax")
                            .arg(inviteCookie, key)
                            .arg(7 * 86400)
                            .toStdString());
    http::html(response, 200, pages::inviteLanding({}, true));
}

} // namespace vantel::server
