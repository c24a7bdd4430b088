#pragma once

// Who is signed in to the sharing service, and the browser sign-in that makes it so.
//
// Sign-in (S256 of RFC 7636): signIn() draws a 32-byte verifier from the system's secure random
// source, keeps it in memory and opens siteURL + "auth/app?challenge=<base64url(SHA-256)>" with
// the desktop's default handler. The service sends the browser back to
// "vantelrecord://auth?code=..."; the shell passes that address to handle(), which exchanges
// code and verifier for a token. The token goes to the keychain (never to the settings, a file
// of ours beside the keychain's own fallback, or any message); the user record goes to the
// settings under "user".
//
// The token exchange is sent without the stored token, and a sign-in is signed in only once the
// new token is stored: a keychain that refuses it makes a failed sign-in with the keychain's
// reason, and the earlier token and user stay as they were.
//
// Threads: main thread only. `user` changes only here, so userChanged() is always emitted on
// the main thread; lost() may be called from any thread and does its work later on the main
// thread. The token exchange and the logout request run as coroutines on the main thread.
//
// The shell turns signedIn() into the toast "Signed in" and signInFailed() into "Sign-in
// failed" (the sharing code does not depend on the shell's toasts).

#include "Replies.h"

#include <QCoro/QCoroTask>
#include <QObject>
#include <QSettings>
#include <QString>
#include <QUrl>
#include <functional>
#include <optional>

namespace vantel {

class Account : public QObject {
    Q_OBJECT
public:
    using User = AccountUser;

    // The program's account over Settings::shared(); created on first use, never destroyed. Only
    // the settings window still reaches it this way.
    static Account& shared();

    // Starts restoring the saved user: it becomes `user` once the keychain answered that a
    // token is stored (then restored() emits). Stored user bytes without a token are ignored and
    // left in place.
    explicit Account(QSettings& store, QObject* parent = nullptr);

    const std::optional<User>& user() const { return m_user; }
    // The secret of the sign-in waiting for its callback; memory only.
    const std::optional<QString>& verifier() const { return m_verifier; }
    bool isRestored() const { return m_restored; }

    // The stored token, read from the keychain at each call.
    static QCoro::Task<std::optional<QString>> token();

    void signIn();
    // A URL opened through the "vantelrecord" scheme. Handled only when its host is exactly
    // "auth" (letter case counts), its first "code" query item has a value (an empty one
    // counts) and a sign-in is pending; anything else is ignored without a message. The
    // exchange takes the pending verifier: a second callback while it runs, or after it
    // succeeded, is ignored; a failed exchange leaves the sign-in pending again (unless
    // signIn() started a newer one meanwhile).
    void handle(const QString& url);
    // Local sign-out at once (keychain entry, "user", `user`); a logout request carrying the
    // token stored at this moment goes out in the background and its outcome is ignored. A
    // pending verifier stays.
    void signOut();
    // The service rejected `rejected`: later, on the main thread, the same local clearing as
    // signOut() (without any request or message), but only when `rejected` is still the stored
    // token and no sign-in, sign-out or clearing happened meanwhile. The answer to an old
    // request cannot sign out a newer sign-in.
    void lost(const QString& rejected);

    // Opens an address in the user's browser; the desktop's default handler unless replaced.
    void setBrowser(std::function<void(const QUrl&)> open) { m_browser = std::move(open); }

    // The pieces of the S256 method.
    static QString base64URL(const QByteArray& bytes);
    static QString challengeOf(const QString& verifier);
    static QUrl signInPage(const QString& challenge);
    // "Clips you share go to <host of siteURL>".
    static QString signedInDetail();

signals:
    void userChanged();
    void restored();
    void signedIn(const QString& detail);
    void signInFailed(const QString& detail);

private:
    QCoro::Task<> restore();
    QCoro::Task<> exchange(QString code, QString verifier);
    static QCoro::Task<TokenReply> requestToken(QString code, QString verifier);
    QCoro::Task<> clearIfStored(QString rejected);
    QCoro::Task<> logout();
    void clearLocally();
    void setUser(std::optional<User> user);

    QSettings& m_store;
    std::optional<User> m_user;
    std::optional<QString> m_verifier;
    bool m_restored = false;
    // Counts changes of `user` and starts of a token store, so a slow restore cannot undo a
    // sign-in or sign-out and a slow rejection cannot clear a newer token.
    int m_generation = 0;
    std::function<void(const QUrl&)> m_browser;
};

} // namespace vantel
