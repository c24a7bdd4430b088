#pragma once

// Small pieces the handlers share: JSON and error replies, reading a JSON body, the request's
// path id, cookies and the clock.
//
// Threads: any; no state.

#include <QJsonObject>
#include <QString>
#include <cstdint>
#include <optional>

namespace httplib {
struct Request;
struct Response;
} // namespace httplib

namespace vantel::server::http {

void json(httplib::Response& response, int status, const QJsonObject& body);
// {"error": message} with `status`; the program shows the message to the user as it stands.
void error(httplib::Response& response, int status, const QString& message);
// A whole HTML page with `status`.
void html(httplib::Response& response, int status, const QString& page);

// The body as a JSON object; none answers 400 "...isn't valid JSON" into `response`.
std::optional<QJsonObject> jsonBody(const httplib::Request& request, httplib::Response& response);
// The regex capture `index` of the route (a path id), as text.
QString match(const httplib::Request& request, int index);
// The declared body size; -1 when there is no Content-Length or it is not a number.
int64_t contentLength(const httplib::Request& request);
// The value of cookie `name`, empty when absent.
QString cookie(const httplib::Request& request, const QString& name);
// The "Bearer" token of the authorization header, empty when absent.
QString bearer(const httplib::Request& request);
QString query(const httplib::Request& request, const char* name);

int64_t now();

} // namespace vantel::server::http
