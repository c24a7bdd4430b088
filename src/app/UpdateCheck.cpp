#include "UpdateCheck.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkReply>
#include <QNetworkRequest>

namespace vantel {

namespace {
// The number at `i` of `text` (leading zeros dropped, so "007" equals "7"); moves `i` past it.
QStringView digitRun(const QString& text, qsizetype& i) {
    const qsizetype start = i;
    while (i < text.size() && text[i].isDigit())
        ++i;
    QStringView run = QStringView(text).mid(start, i - start);
    while (run.size() > 1 && run.front() == u'0')
        run = run.mid(1);
    return run;
}

int compareNumbers(QStringView a, QStringView b) {
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    return a.compare(b);
}
} // namespace

int compareVersions(const QString& a, const QString& b) {
    qsizetype i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (a[i].isDigit() && b[j].isDigit()) {
            const int order = compareNumbers(digitRun(a, i), digitRun(b, j));
            if (order != 0)
                return order;
            continue;
        }
        if (a[i] != b[j])
            return a[i] < b[j] ? -1 : 1;
        ++i;
        ++j;
    }
    return (i < a.size()) - (j < b.size());
}

std::optional<AppUpdate> newerVersion(const QByteArray& body, const QString& running) {
    const QJsonDocument document = QJsonDocument::fromJson(body);
    if (!document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();
    const QJsonValue version = object.value(QLatin1String("version"));
    const QJsonValue url = object.value(QLatin1String("url"));
    if (!version.isString() || !url.isString())
        return std::nullopt;
    const QUrl address(url.toString(), QUrl::StrictMode);
    const bool web =
        address.scheme() == QLatin1String("https") || address.scheme() == QLatin1String("http");
    if (!address.isValid() || !web || address.host().isEmpty())
        return std::nullopt;
    if (compareVersions(version.toString(), running.isEmpty() ? QStringLiteral("0") : running) <= 0)
        return std::nullopt;
    return AppUpdate{version.toString(), address};
}

void checkForUpdate(QNetworkAccessManager& network, const QUrl& versionFile, const QString& running,
                    QObject* context, std::function<void(std::optional<AppUpdate>)> done) {
    QNetworkReply* reply = network.get(QNetworkRequest(versionFile));
    QObject::connect(reply, &QNetworkReply::finished, context,
                     [reply, running, done = std::move(done)] {
                         reply->deleteLater();
                         const bool answered =
                             reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid();
                         if (reply->error() != QNetworkReply::NoError && !answered)
                             done(std::nullopt);
                         else
                             done(newerVersion(reply->readAll(), running));
                     });
}

} // namespace vantel
