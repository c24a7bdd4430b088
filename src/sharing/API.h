#pragma once

// The one way the application talks to the sharing service: raw() builds a request against
// siteURL(), attaches the stored token and the user agent, sends it and turns an error status
// into API::Failure. The client keeps no state between requests and never retries.
//
// Threads: raw() may be awaited on any thread that runs a Qt event loop; each such thread gets
// its own QNetworkAccessManager, and the coroutine resumes on the thread that awaited it. The
// token is read afresh from the keychain for every request.
//
// Errors, all std::runtime_error whose what() is the sentence the user sees (UTF-8):
// - API::Failure: the service answered 400 or more (or the local "Sign in first." case);
// - API::TransportError: no answer at all (refused, dropped, host not found, timed out), in
//   words a player understands rather than Qt's error names;
// - API::BadReply: an answer whose body is not the record the caller expected.
// The token never appears in any of them.

#include <QByteArray>
#include <QCoro/QCoroTask>
#include <QNetworkReply>
#include <QString>
#include <QUrl>
#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>

namespace vantel::API {

class Failure : public std::runtime_error {
public:
    Failure(int64_t status, const QString& message)
        : std::runtime_error(message.toStdString())
        , m_status(status)
        , m_message(message) {}

    int64_t status() const { return m_status; }
    const QString& message() const { return m_message; }

private:
    int64_t m_status;
    QString m_message;
};

class TransportError : public std::runtime_error {
public:
    TransportError(QNetworkReply::NetworkError code, const QString& sentence)
        : std::runtime_error(sentence.toStdString())
        , m_code(code) {}

    QNetworkReply::NetworkError code() const { return m_code; }

private:
    QNetworkReply::NetworkError m_code;
};

class BadReply : public std::runtime_error {
public:
    BadReply();
};

struct Response {
    int status = 0;
    QByteArray body;
};

inline constexpr double defaultTimeout = 60.0;

// Sends `method` ("POST", "PUT", "PATCH", "DELETE") to `path` ("/api/clips") below siteURL(),
// path and all (siteURL(path)). With a body, "content-type" is `type`; without one there is no
// content type. "authorization" is "Bearer <token>" when a token is stored. `timeout` is the
// longest pause in the transfer, in seconds. Redirects are followed only within the service's
// origin (scheme, host and port); one to anywhere else is a TransportError and nothing is sent
// there. A 401 answer to a request that carried a token also tells the rejected-token listener
// (the program's Account::lost, which clears the sign-in later on the main thread if that token
// is still the stored one) before the Failure is thrown.
QCoro::Task<Response> raw(QString method, QString path, std::optional<QByteArray> body = {},
                          QString type = QStringLiteral("application/json"),
                          double timeout = defaultTimeout);

// raw() with a token chosen by the caller instead of the stored one (none: no authorization).
// Sign-out uses it to send the token that was stored when it began.
QCoro::Task<Response> rawWithToken(std::optional<QString> token, QString method, QString path,
                                   std::optional<QByteArray> body = {},
                                   QString type = QStringLiteral("application/json"),
                                   double timeout = defaultTimeout);

// raw() with the contents of `file` as the body, read as the request goes out, so a large file is
// never held in memory. A file that cannot be opened throws std::runtime_error.
QCoro::Task<Response> rawFile(QString method, QString path, QString file, QString type,
                              double timeout = defaultTimeout);

// The message of an error answer: the "error" value of a JSON object whose values are all
// strings, else "The server said <status>.".
QString errorMessage(int status, const QByteArray& body);

// The sentence shown for a transport error.
QString transportSentence(QNetworkReply::NetworkError code);

// "VantelRecord/" followed by the application's version (nothing after the slash without one).
QByteArray userAgent();

// Who hears that the service answered 401 to a token it was sent: the program's account, set
// once at start. Until then, or with an empty function, nobody hears. Any thread; the listener
// is called on the thread that awaited the request.
void setRejectedTokenListener(std::function<void(const QString& token)> listener);

} // namespace vantel::API
