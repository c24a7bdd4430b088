#pragma once

// The two calls the sign-in makes to Discord after the user approved: the authorization code
// (with our PKCE verifier) for an access token at the token address, then the user at the
// "users/@me" address. The addresses come from the configuration, so tests use a stand-in.
//
// Threads: any; each call opens its own connection. Calls block for at most 15 seconds.
// Errors: DiscordError with a sentence for the sign-in page ("Discord didn't ...").

#include "ServerConfig.h"

#include <optional>
#include <stdexcept>

namespace vantel::server {

class DiscordError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct DiscordUser {
    QString id;
    QString name;                  // global_name, else username
    std::optional<QString> avatar; // the CDN address of the avatar (or of a default one)
};

class DiscordClient {
public:
    explicit DiscordClient(DiscordConfig config)
        : m_config(std::move(config)) {}

    DiscordUser signIn(const QString& code, const QString& verifier,
                       const QString& redirectUri) const;

    // The CDN address Discord shows for a user with `avatarHash` (may be empty).
    static QString avatarUrl(const QString& userId, const QString& avatarHash);

private:
    QString accessToken(const QString& code, const QString& verifier,
                        const QString& redirectUri) const;
    DiscordUser user(const QString& accessToken) const;

    DiscordConfig m_config;
};

} // namespace vantel::server
