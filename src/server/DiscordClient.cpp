#include "DiscordClient.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <httplib.h>

namespace vantel::server {

namespace {

std::unique_ptr<httplib::Client> clientFor(const QUrl& url) {
    const QString origin = url.adjusted(QUrl::RemovePath | QUrl::RemoveQuery).toString();
    auto client = std::make_unique<httplib::Client>(origin.toStdString());
    client->set_connection_timeout(10);
    client->set_read_timeout(15);
    client->set_write_timeout(15);
    return client;
}

std::string pathOf(const QUrl& url) {
    return url.path(QUrl::FullyEncoded).toStdString() +
           (url.hasQuery() ? "?" + url.query(QUrl::FullyEncoded).toStdString() : "");
}

QJsonObject objectOf(const httplib::Result& result, const char* what) {
    if (!result)
        throw DiscordError(std::string("Couldn't reach Discord to ") + what + ". Try again.");
    if (result->status != 200)
        throw DiscordError(std::string("Discord refused to ") + what + " (status " +
                           std::to_string(result->status) + "). Try again.");
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(result->body));
    if (!document.isObject())
        throw DiscordError(std::string("Discord sent an answer we can't read when asked to ") +
                           what + ".");
    return document.object();
}

} // namespace

DiscordUser DiscordClient::signIn(const QString& code, const QString& verifier,
                                  const QString& redirectUri) const {
    return user(accessToken(code, verifier, redirectUri));
}

QString DiscordClient::accessToken(const QString& code, const QString& verifier,
                                   const QString& redirectUri) const {
    httplib::Params form{{"client_id", m_config.clientId.toStdString()},
                         {"client_secret", m_config.clientSecret.toStdString()},
                         {"grant_type", "authorization_code"},
                         {"code", code.toStdString()},
                         {"redirect_uri", redirectUri.toStdString()},
                         {"code_verifier", verifier.toStdString()}};
    auto client = clientFor(m_config.tokenUrl);
    const QJsonObject reply =
        objectOf(client->Post(pathOf(m_config.tokenUrl), form), "finish the sign-in");
    const QString token = reply.value(QLatin1String("access_token")).toString();
    if (token.isEmpty())
        throw DiscordError("Discord didn't hand out a sign-in token. Try again.");
    return token;
}

DiscordUser DiscordClient::user(const QString& accessToken) const {
    auto client = clientFor(m_config.userUrl);
    httplib::Headers headers{{"Authorization", "Bearer " + accessToken.toStdString()}};
    const QJsonObject reply =
        objectOf(client->Get(pathOf(m_config.userUrl), headers), "tell who you are");
    DiscordUser user;
    user.id = reply.value(QLatin1String("id")).toString();
    if (user.id.isEmpty())
        throw DiscordError("Discord didn't say who you are. Try again.");
    user.name = reply.value(QLatin1String("global_name")).toString();
    if (user.name.isEmpty())
        user.name = reply.value(QLatin1String("username")).toString();
    if (user.name.isEmpty())
        user.name = QStringLiteral("Player");
    user.avatar = avatarUrl(user.id, reply.value(QLatin1String("avatar")).toString());
    return user;
}

QString DiscordClient::avatarUrl(const QString& userId, const QString& avatarHash) {
    if (avatarHash.isEmpty()) {
        const qulonglong id = userId.toULongLong();
        return QStringLiteral("https://cdn.discordapp.com/embed/avatars/%1.png")
            .arg((id >> 22) % 6);
    }
    return QStringLiteral("https://cdn.discordapp.com/avatars/%1/%2.%3")
        .arg(userId, avatarHash,
             avatarHash.startsWith(QLatin1String("a_")) ? QStringLiteral("gif")
                                                        : QStringLiteral("png"));
}

} // namespace vantel::server
