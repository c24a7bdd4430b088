#include "Http.h"

#include <QDateTime>
#include <QJsonDocument>
#include <httplib.h>

namespace vantel::server::http {

void json(httplib::Response& response, int status, const QJsonObject& body) {
    response.status = status;
    if (!response.has_header("Cache-Control"))
        response.set_header("Cache-Control", "no-store");
    response.set_content(QJsonDocument(body).toJson(QJsonDocument::Compact).toStdString(),
                         "application/json");
}

void error(httplib::Response& response, int status, const QString& message) {
    json(response, status, QJsonObject{{QStringLiteral("error"), message}});
}

void html(httplib::Response& response, int status, const QString& page) {
    response.status = status;
    response.set_content(page.toStdString(), "text/html; charset=utf-8");
}

std::optional<QJsonObject> jsonBody(const httplib::Request& request, httplib::Response& response) {
    QJsonParseError problem{};
    const QJsonDocument document =
        QJsonDocument::fromJson(QByteArray::fromStdString(request.body), &problem);
    if (problem.error != QJsonParseError::NoError || !document.isObject()) {
        error(response, 400, QStringLiteral("The request isn't valid JSON."));
        return std::nullopt;
    }
    return document.object();
}

QString match(const httplib::Request& request, int index) {
    if (index >= int(request.matches.size()))
        return {};
    return QString::fromStdString(request.matches[size_t(index)].str());
}

int64_t contentLength(const httplib::Request& request) {
    if (!request.has_header("Content-Length"))
        return -1;
    bool ok = false;
    const qlonglong value =
        QString::fromStdString(request.get_header_value("Content-Length")).toLongLong(&ok);
    return ok && value >= 0 ? value : -1;
}

QString cookie(const httplib::Request& request, const QString& name) {
    const QString header = QString::fromStdString(request.get_header_value("Cookie"));
    for (const QString& item : header.split(u';')) {
        const QString trimmed = item.trimmed();
        if (trimmed.startsWith(name + u'='))
            return trimmed.mid(name.size() + 1);
    }
    return {};
}

QString bearer(const httplib::Request& request) {
    const QString header = QString::fromStdString(request.get_header_value("Authorization"));
    if (!header.startsWith(QLatin1String("Bearer "), Qt::CaseInsensitive))
        return {};
    return header.mid(7).trimmed();
}

QString query(const httplib::Request& request, const char* name) {
    return QString::fromStdString(request.get_param_value(name));
}

int64_t now() {
    return QDateTime::currentSecsSinceEpoch();
}

} // namespace vantel::server::http
