#include "API.h"

#include "Keychain.h"
#include "settings/SiteUrl.h"

#include <QCoreApplication>
#include <QCoro/QCoroNetworkReply>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QThreadStorage>
#include <memory>
#include <mutex>
#include <variant>

namespace vantel::API {

namespace {

struct RejectedTokenListener {
    std::mutex mutex;
    std::function<void(const QString&)> listener; // guarded by mutex
};

RejectedTokenListener& rejectedTokenListener() {
    static RejectedTokenListener shared;
    return shared;
}

void tellRejected(const QString& token) {
    RejectedTokenListener& place = rejectedTokenListener();
    std::function<void(const QString&)> listener;
    {
        std::lock_guard lock(place.mutex);
        listener = place.listener;
    }
    if (listener)
        listener(token);
}

QNetworkAccessManager& network() {
    static QThreadStorage<QNetworkAccessManager*> managers;
    if (!managers.hasLocalData())
        managers.setLocalData(new QNetworkAccessManager);
    return *managers.localData();
}

QNetworkRequest buildRequest(const std::optional<QString>& token, const QUrl& url, bool hasBody,
                             const QString& type, double timeout) {
    QNetworkRequest request(url);
    request.setTransferTimeout(static_cast<int>(timeout * 1000.0));
    // Redirects are followed here rather than by Qt: the token (and the sign-in's verifier in a
    // body) must never leave the service's own origin, and Qt sometimes loses the body of a
    // request it resends on a fresh connection before following a 307 with it.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    if (token)
        request.setRawHeader("authorization", "Bearer " + token->toUtf8());
    request.setRawHeader("user-agent", userAgent());
    if (hasBody)
        request.setRawHeader("content-type", type.toUtf8());
    return request;
}

struct ReplyDeleter {
    void operator()(QNetworkReply* reply) const { reply->deleteLater(); }
};

// What a request carries: nothing, bytes in memory, or a file streamed as it is sent.
using Body = std::variant<std::monostate, QByteArray, QString>;

QNetworkReply* send(const QNetworkRequest& request, const QString& method, const Body& body) {
    const QByteArray verb = method.toLatin1();
    if (const auto* bytes = std::get_if<QByteArray>(&body))
        return network().sendCustomRequest(request, verb, *bytes);
    if (const auto* path = std::get_if<QString>(&body)) {
        auto* file = new QFile(*path);
        if (!file->open(QIODevice::ReadOnly)) {
            const QString reason = file->errorString();
            delete file;
            throw std::runtime_error(QStringLiteral("Couldn't read %1: %2")
                                         .arg(QFileInfo(*path).fileName(), reason)
                                         .toStdString());
        }
        QNetworkReply* reply = network().sendCustomRequest(request, verb, file);
        file->setParent(reply);
        return reply;
    }
    return network().sendCustomRequest(request, verb);
}

Response checked(const std::optional<QString>& token, Response response) {
    if (response.status == 401 && token)
        tellRejected(*token);
    if (response.status >= 400)
        throw Failure(response.status, errorMessage(response.status, response.body));
    return response;
}

constexpr int maxRedirects = 5;

bool sameOrigin(const QUrl& a, const QUrl& b) {
    return a.scheme() == b.scheme() && a.host() == b.host() && a.port() == b.port();
}

// Where a redirect leads, or an empty URL when the answer is not one. 307 and 308 keep the
// method and body; the others turn into a GET, as browsers do.
QUrl redirectTarget(const QNetworkReply& reply, const QUrl& from, QString& method, Body& body) {
    const int status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QUrl location = reply.attribute(QNetworkRequest::RedirectionTargetAttribute).toUrl();
    if (status < 300 || status > 399 || location.isEmpty() || status == 304)
        return {};
    if (status != 307 && status != 308 && method != QLatin1String("HEAD")) {
        method = QStringLiteral("GET");
        body = std::monostate();
    }
    return from.resolved(location);
}

QCoro::Task<Response> exchange(std::optional<QString> token, QString method, QString path,
                               Body body, QString type, double timeout) {
    QUrl url = siteURL(path);
    for (int redirects = 0;; ++redirects) {
        const bool hasBody = !std::holds_alternative<std::monostate>(body);
        QNetworkRequest request = buildRequest(token, url, hasBody, type, timeout);
        std::unique_ptr<QNetworkReply, ReplyDeleter> reply(send(request, method, body));
        co_await reply.get();
        QVariant statusAttribute = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        // Qt numbers connection and proxy failures below 200; a reply cut short has a status
        // but is a failure all the same.
        if (!statusAttribute.isValid() ||
            (reply->error() != QNetworkReply::NoError && reply->error() < 200))
            throw TransportError(reply->error(), transportSentence(reply->error()));
        const QUrl next = redirectTarget(*reply, url, method, body);
        if (next.isEmpty())
            co_return checked(token, Response{statusAttribute.toInt(), reply->readAll()});
        if (!sameOrigin(next, url))
            throw TransportError(QNetworkReply::InsecureRedirectError,
                                 transportSentence(QNetworkReply::InsecureRedirectError));
        if (redirects == maxRedirects)
            throw TransportError(QNetworkReply::TooManyRedirectsError,
                                 transportSentence(QNetworkReply::TooManyRedirectsError));
        url = next;
    }
}

Body bodyOf(std::optional<QByteArray> bytes) {
    return bytes ? Body(std::move(*bytes)) : Body();
}

} // namespace

BadReply::BadReply()
    : std::runtime_error("The sharing service sent an answer this version of Vantel Record can't "
                         "read.") {}

QByteArray userAgent() {
    return "VantelRecord/" + QCoreApplication::applicationVersion().toUtf8();
}

QString errorMessage(int status, const QByteArray& body) {
    QJsonDocument document = QJsonDocument::fromJson(body);
    const QString generic = QStringLiteral("The server said %1.").arg(status);
    if (!document.isObject())
        return generic;
    QJsonObject object = document.object();
    for (auto it = object.begin(); it != object.end(); ++it)
        if (!it.value().isString())
            return generic;
    QJsonValue error = object.value(QLatin1String("error"));
    return error.isString() ? error.toString() : generic;
}

QString transportSentence(QNetworkReply::NetworkError code) {
    switch (code) {
    case QNetworkReply::ConnectionRefusedError:
        return QStringLiteral("The sharing service refused the connection. Try again in a moment.");
    case QNetworkReply::RemoteHostClosedError:
        return QStringLiteral("The connection to the sharing service broke off. Try again.");
    case QNetworkReply::HostNotFoundError:
        return QStringLiteral("Couldn't find the sharing service. Check your internet connection.");
    case QNetworkReply::TimeoutError:
    case QNetworkReply::OperationCanceledError:
        return QStringLiteral("The sharing service took too long to answer. Try again.");
    case QNetworkReply::InsecureRedirectError:
        return QStringLiteral("The sharing service sent the request on to another address, "
                              "where Vantel Record doesn't send your sign-in.");
    case QNetworkReply::TooManyRedirectsError:
        return QStringLiteral("The sharing service kept sending the request on to other "
                              "addresses. Try again later.");
    case QNetworkReply::SslHandshakeFailedError:
        return QStringLiteral("Couldn't open a secure connection to the sharing service.");
    case QNetworkReply::ProxyConnectionRefusedError:
    case QNetworkReply::ProxyConnectionClosedError:
    case QNetworkReply::ProxyNotFoundError:
    case QNetworkReply::ProxyTimeoutError:
    case QNetworkReply::ProxyAuthenticationRequiredError:
        return QStringLiteral(
            "Your proxy didn't let the connection to the sharing service through.");
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError:
        return QStringLiteral("You seem to be offline. Check your internet connection.");
    default:
        return QStringLiteral(
            "Couldn't reach the sharing service. Check your internet connection.");
    }
}

QCoro::Task<Response> rawWithToken(std::optional<QString> token, QString method, QString path,
                                   std::optional<QByteArray> body, QString type, double timeout) {
    auto request = exchange(std::move(token), std::move(method), std::move(path),
                            bodyOf(std::move(body)), std::move(type), timeout);
    co_return co_await std::move(request);
}

QCoro::Task<Response> raw(QString method, QString path, std::optional<QByteArray> body,
                          QString type, double timeout) {
    const QString account = QStringLiteral("token");
    std::optional<QString> token = co_await Keychain::get(account);
    auto request = exchange(std::move(token), std::move(method), std::move(path),
                            bodyOf(std::move(body)), std::move(type), timeout);
    co_return co_await std::move(request);
}

QCoro::Task<Response> rawFile(QString method, QString path, QString file, QString type,
                              double timeout) {
    const QString account = QStringLiteral("token");
    std::optional<QString> token = co_await Keychain::get(account);
    auto request = exchange(std::move(token), std::move(method), std::move(path),
                            Body(std::move(file)), std::move(type), timeout);
    co_return co_await std::move(request);
}

void setRejectedTokenListener(std::function<void(const QString& token)> listener) {
    RejectedTokenListener& place = rejectedTokenListener();
    std::lock_guard lock(place.mutex);
    place.listener = std::move(listener);
}

} // namespace vantel::API
