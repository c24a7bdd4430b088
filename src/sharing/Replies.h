#pragma once

// The records the sharing service answers with, decoded from JSON objects. Keys not listed are
// ignored; every listed key is required unless marked optional, and a missing or mistyped
// required key makes decoding throw API::BadReply.

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <optional>

namespace vantel {

// The signed-in user of the sharing service: {"id", "name", "avatar" (optional, may be null)}.
struct AccountUser {
    QString id;
    QString name;
    std::optional<QString> avatar;

    bool operator==(const AccountUser&) const = default;

    // Compact JSON with "id", "name", and "avatar" only when present.
    QByteArray toJson() const;
    static AccountUser fromJson(const QByteArray& bytes);
};

// The answer to the token exchange: {"token", "user"}.
struct TokenReply {
    QString token;
    AccountUser user;

    static TokenReply fromJson(const QByteArray& bytes);
};

namespace Sharing {

// The answer to creating a shared clip: {"id", "partSize" (an integer), "url"}.
struct Created {
    QString id;
    int64_t partSize = 0;
    QString url;

    static Created fromJson(const QByteArray& bytes);
};

// The answer to completing an upload: {"url"}, the public link.
struct Done {
    QString url;

    static Done fromJson(const QByteArray& bytes);
};

} // namespace Sharing

} // namespace vantel
