#pragma once

// The service's records: users, sign-in tokens (only their SHA-256), one-time sign-in codes,
// pending Discord sign-ins, invitations, shared clips and their uploaded parts. One set of SQL
// statements runs on SQLite (the embedded default, in WAL mode) and on PostgreSQL, through QtSql.
//
// Nothing is cached in the process: every answer comes from the database, so several server
// instances on one database see the same clips, parts and sign-ins. Steps that must happen once
// (taking a code, a state or an invitation; recording a part) are single statements whose
// affected-row count decides who won, so two instances racing on the same record cannot both
// succeed.
//
// Threads: any. QtSql connections may be used only by the thread that opened them, so each
// thread that calls in gets its own connection, opened on first use and named after the thread;
// it is closed when the thread ends. The Catalog object itself holds only the configuration and
// must outlive every thread that used it.
//
// Errors: a database that cannot be opened, or a statement that fails, throws CatalogError with
// the driver's text (for the operator's log; the HTTP layer answers a generic 500). Records that
// do not exist are std::nullopt or false, never exceptions.
//
// Times are Unix seconds, given by the caller, so expiry is decided by one clock per request.

#include "ServerConfig.h"

#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <cstdint>
#include <optional>
#include <stdexcept>

namespace vantel::server {

class CatalogError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct UserRecord {
    QString id;                    // the service's own id (random, URL-safe)
    QString name;                  // display name
    std::optional<QString> avatar; // address of the avatar picture
};

// A sign-in waiting for Discord's callback: the `state` sent to Discord names it.
struct SignInState {
    QString challenge;       // the program's S256 challenge, bound to this sign-in
    QString discordVerifier; // our PKCE verifier toward Discord
    int64_t expires = 0;
};

// A one-time code handed to the program through "vantelrecord://auth?code=...".
struct SignInCode {
    QString userId;
    QString challenge;
    int64_t expires = 0;
};

enum class ClipState { Uploading, Ready };

struct ClipRecord {
    QString id; // random, at least 96 bits, URL-safe; also the public link's name
    QString userId;
    QString title;
    QString game;
    double duration = 0; // seconds, as measured when the upload was checked
    int64_t width = 0;
    int64_t height = 0;
    int64_t size = 0;            // bytes of the whole video, announced at creation
    int64_t partSize = 0;        // bytes per part for this clip (the configuration's, at creation)
    bool previewPlanned = false; // the program announced a preview
    bool hasPreview = false;     // a preview was uploaded
    bool hasThumb = false;       // a thumbnail was uploaded
    int64_t thumbWidth = 0;
    int64_t thumbHeight = 0;
    int64_t previewWidth = 0;
    int64_t previewHeight = 0;
    QString uploadHandle; // the blob store's name for the upload in progress (may be empty)
    ClipState state = ClipState::Uploading;
    int64_t views = 0;
    int64_t created = 0;

    // Parts the whole video is cut into: ceil(size / partSize), at least 1.
    int64_t partCount() const;
    // The exact byte count part `number` (1-based) must have.
    int64_t partBytes(int64_t number) const;
};

struct PartRecord {
    int64_t number = 0;
    int64_t size = 0;
    QString sha256; // hex digest of the part's bytes
    QString tag;    // the blob store's receipt (an S3 ETag; empty on disk)
};

// What the upload check measured, written when the clip becomes ready.
struct VideoFacts {
    int64_t width = 0;
    int64_t height = 0;
    double duration = 0;
};

// The size of an uploaded picture or preview.
struct AssetFacts {
    int64_t width = 0;
    int64_t height = 0;
};

class Catalog {
public:
    // Opens a connection on the calling thread and creates the tables when missing. Throws
    // CatalogError. `dataDir` holds the SQLite file when `database.url` is empty.
    Catalog(const DatabaseConfig& database, const QString& dataDir);
    ~Catalog();
    Catalog(const Catalog&) = delete;
    Catalog& operator=(const Catalog&) = delete;

    // Users. Discord users are found by their Discord id and get their name and avatar
    // refreshed at every sign-in; invited users by their invitation's name (one user per name).
    UserRecord signInDiscordUser(const QString& discordId, const QString& name,
                                 const std::optional<QString>& avatar, int64_t now);
    UserRecord signInInvitedUser(const QString& name, int64_t now);
    std::optional<UserRecord> user(const QString& id);

    // Tokens, stored as the hex SHA-256 of the token text.
    void addToken(const QString& tokenHash, const QString& userId, int64_t now);
    std::optional<UserRecord> userForToken(const QString& tokenHash);
    void removeToken(const QString& tokenHash);

    // Pending Discord sign-ins, by `state`; taking one removes it. An expired one is removed and
    // not returned.
    void addSignInState(const QString& state, const SignInState& record);
    std::optional<SignInState> takeSignInState(const QString& state, int64_t now);

    // One-time codes, stored as the hex SHA-256 of the code; taking one removes it, so it works
    // once, whatever the caller then decides. An expired code is removed and not returned.
    void addCode(const QString& codeHash, const SignInCode& record);
    std::optional<SignInCode> takeCode(const QString& codeHash, int64_t now);

    // Invitations printed by the operator, stored as the hex SHA-256 of the invitation key;
    // taking one removes it and gives the invited name.
    void addInvite(const QString& keyHash, const QString& name, int64_t expires);
    std::optional<QString> takeInvite(const QString& keyHash, int64_t now);

    // Clips. createClip() stores the record as given (state Uploading).
    void createClip(const ClipRecord& clip);
    std::optional<ClipRecord> clip(const QString& id);
    QList<ClipRecord> userClips(const QString& userId); // newest first
    int64_t usedBytes(const QString& userId);           // sum of `size` over the user's clips
    bool renameClip(const QString& id, const QString& title);
    void setPreview(const QString& id, const AssetFacts& facts);
    void setThumb(const QString& id, const AssetFacts& facts);
    // Uploading -> Ready with the measured facts; false when it was not Uploading (a second
    // "done" racing the first).
    bool finishClip(const QString& id, const VideoFacts& facts);
    void countView(const QString& id);
    // Removes the clip and its parts; false when there was none.
    bool removeClip(const QString& id);

    // Parts. addPart() is false when the number is already recorded (the caller compares).
    bool addPart(const QString& clipId, const PartRecord& part);
    std::optional<PartRecord> part(const QString& clipId, int64_t number);
    QList<PartRecord> parts(const QString& clipId); // by number
    void removeParts(const QString& clipId);

private:
    struct Connection;
    Connection& connection();
    void createSchema(QSqlDatabase db);

    QString m_driver;
    QString m_sqlitePath;
    DatabaseConfig m_config;
    QString m_prefix; // connection names: prefix + thread id
};

} // namespace vantel::server
