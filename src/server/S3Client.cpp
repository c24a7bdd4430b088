#include "S3Client.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QXmlStreamReader>
#include <exception>
#include <httplib.h>
#include <memory>

namespace vantel::server {
namespace {

constexpr size_t kChunkBytes = 256 * 1024;
constexpr size_t kErrorBodyLimit = 64 * 1024;
constexpr time_t kConnectSeconds = 10;
constexpr time_t kTransferSeconds = 300;

// The text of the first element named `name` in an XML document, or empty.
QString xmlText(const std::string& xml, QStringView name) {
    QXmlStreamReader reader(QByteArray::fromStdString(xml));
    while (!reader.atEnd()) {
        if (reader.readNext() == QXmlStreamReader::StartElement && reader.name() == name)
            return reader.readElementText();
    }
    return {};
}

QString xmlRoot(const std::string& xml) {
    QXmlStreamReader reader(QByteArray::fromStdString(xml));
    return reader.readNextStartElement() ? reader.name().toString() : QString();
}

S3Error answerError(int status, const std::string& body, const QString& action) {
    QString code = xmlText(body, u"Code");
    QString message = xmlText(body, u"Message");
    if (code.isEmpty())
        code = status == 403 ? "AccessDenied" : status == 404 ? "NotFound" : "HTTP";
    QString text =
        QStringLiteral("Object storage refused to %1 (%2 %3)").arg(action).arg(status).arg(code);
    if (!message.isEmpty())
        text += ": " + message;
    if (status == 403)
        text += " Check the storage's access key, secret key and region.";
    return S3Error(status, code, text);
}

S3Error transportError(httplib::Error error, const QString& action, const QByteArray& origin) {
    return S3Error(0, "Transport",
                   QStringLiteral("Could not %1: object storage at %2 did not answer (%3).")
                       .arg(action, QString::fromLatin1(origin),
                            QString::fromStdString(httplib::to_string(error))));
}

bool succeeded(int status) {
    return status >= 200 && status < 300;
}

// The answer of a request the store took and granted; anything else throws with `action`.
const httplib::Response& granted(const httplib::Result& result, const QString& action,
                                 const QByteArray& origin) {
    if (!result)
        throw transportError(result.error(), action, origin);
    if (!succeeded(result->status))
        throw answerError(result->status, result->body, action);
    return *result;
}

// "bytes 0-99/1000" into the download's range and total size.
void readContentRange(const std::string& value, S3Download& download) {
    const QString text = QString::fromStdString(value);
    const qsizetype space = text.indexOf(' '), dash = text.indexOf('-'), slash = text.indexOf('/');
    if (space < 0 || dash < space || slash < dash)
        return;
    download.first = text.mid(space + 1, dash - space - 1).toLongLong();
    const int64_t last = text.mid(dash + 1, slash - dash - 1).toLongLong();
    download.length = last - download.first + 1;
    download.totalSize = text.mid(slash + 1).toLongLong();
}

} // namespace

S3Error::S3Error(int status, QString code, const QString& message)
    : std::runtime_error(message.toStdString())
    , m_status(status)
    , m_code(std::move(code)) {}

struct S3Client::Target {
    S3SignedRequest signing;
    std::string pathAndQuery;
};

namespace {

S3Credentials credentialsOf(const S3Config& config) {
    return {config.accessKey.toUtf8(), config.secretKey.toUtf8(), config.region.toUtf8()};
}

} // namespace

S3Client::S3Client(S3Config config)
    : m_config(std::move(config))
    , m_signer(credentialsOf(m_config)) {
    const QUrl& url = m_config.endpoint;
    if (!url.isValid() || (url.scheme() != "http" && url.scheme() != "https") ||
        url.host().isEmpty())
        throw std::invalid_argument(
            "The object storage endpoint must be an http(s) address, not \"" +
            m_config.endpoint.toString().toStdString() + "\".");
    if (m_config.bucket.isEmpty() || m_config.accessKey.isEmpty() || m_config.secretKey.isEmpty())
        throw std::invalid_argument(
            "Object storage needs a bucket, an access key and a secret key.");
    const int defaultPort = url.scheme() == "https" ? 443 : 80;
    const int port = url.port(defaultPort);
    m_host = url.host(QUrl::FullyEncoded).toLatin1();
    if (port != defaultPort)
        m_host += ':' + QByteArray::number(port);
    m_origin = url.scheme().toLatin1() + "://" + m_host;
    m_basePath = url.path(QUrl::FullyEncoded).toLatin1();
    while (m_basePath.endsWith('/'))
        m_basePath.chop(1);
}

S3Client::Target S3Client::target(const QString& key, S3Fields query) const {
    Target result;
    QByteArray path = m_basePath + '/' + S3Signer::encode(m_config.bucket.toUtf8());
    if (!key.isEmpty())
        path += '/' + S3Signer::encode(key.toUtf8(), true);
    result.pathAndQuery = path.toStdString();
    if (!query.isEmpty())
        result.pathAndQuery += '?' + S3Signer::canonicalQuery(query).toStdString();
    result.signing.host = m_host;
    result.signing.encodedPath = path;
    result.signing.query = std::move(query);
    return result;
}

namespace {

std::unique_ptr<httplib::Client> connect(const QByteArray& origin) {
    auto client = std::make_unique<httplib::Client>(origin.toStdString());
    client->set_url_encode(false);
    client->set_keep_alive(false);
    client->set_connection_timeout(kConnectSeconds);
    client->set_read_timeout(kTransferSeconds);
    client->set_write_timeout(kTransferSeconds);
    return client;
}

httplib::Headers headersOf(const S3Signer& signer, const S3SignedRequest& request) {
    httplib::Headers headers{{"Host", request.host.toStdString()}};
    for (const auto& [name, value] : request.headers)
        headers.emplace(name.toStdString(), value.toStdString());
    for (const auto& [name, value] : signer.signHeaders(request, QDateTime::currentDateTimeUtc()))
        headers.emplace(name.toStdString(), value.toStdString());
    return headers;
}

// Pulls `size` bytes from `source` for the HTTP client, keeping the source's own failure.
struct SourcePump {
    const S3BodySource& source;
    std::exception_ptr failure;
    bool shortBody = false;

    httplib::ContentProvider provider() {
        return [this](size_t, size_t length, httplib::DataSink& sink) {
            std::vector<char> buffer(std::min(length, kChunkBytes));
            int64_t filled = 0;
            try {
                filled = source(buffer.data(), static_cast<int64_t>(buffer.size()));
            } catch (...) {
                failure = std::current_exception();
                return false;
            }
            if (filled <= 0) {
                shortBody = true;
                return false;
            }
            return sink.write(buffer.data(), static_cast<size_t>(filled));
        };
    }

    void rethrow(const QString& action) const {
        if (failure)
            std::rethrow_exception(failure);
        if (shortBody)
            throw S3Error(
                0, "IncompleteBody",
                QStringLiteral("Could not %1: the body ended before its size.").arg(action));
    }
};

} // namespace

QString S3Client::putObject(const QString& key, int64_t size, const S3BodySource& source,
                            const QByteArray& contentType) const {
    const QString action = "store " + key;
    Target t = target(key, {});
    t.signing.method = "PUT";
    SourcePump pump{source};
    auto result = connect(m_origin)->Put(t.pathAndQuery, headersOf(m_signer, t.signing),
                                         static_cast<size_t>(size), pump.provider(),
                                         contentType.toStdString());
    pump.rethrow(action);
    granted(result, action, m_origin);
    return QString::fromStdString(result->get_header_value("ETag"));
}

QString S3Client::putObject(const QString& key, const QByteArray& body,
                            const QByteArray& contentType) const {
    const QString action = "store " + key;
    Target t = target(key, {});
    t.signing.method = "PUT";
    t.signing.payloadHash = QCryptographicHash::hash(body, QCryptographicHash::Sha256).toHex();
    auto result =
        connect(m_origin)->Put(t.pathAndQuery, headersOf(m_signer, t.signing), body.constData(),
                               static_cast<size_t>(body.size()), contentType.toStdString());
    granted(result, action, m_origin);
    return QString::fromStdString(result->get_header_value("ETag"));
}

QString S3Client::createMultipartUpload(const QString& key, const QByteArray& contentType) const {
    const QString action = "start an upload of " + key;
    Target t = target(key, {{"uploads", ""}});
    t.signing.method = "POST";
    t.signing.payloadHash = QCryptographicHash::hash({}, QCryptographicHash::Sha256).toHex();
    httplib::Headers headers = headersOf(m_signer, t.signing);
    headers.emplace("Content-Type", contentType.toStdString());
    auto result =
        connect(m_origin)->Post(t.pathAndQuery, headers, std::string(), contentType.toStdString());
    granted(result, action, m_origin);
    const QString uploadId = xmlText(result->body, u"UploadId");
    if (uploadId.isEmpty())
        throw S3Error(result->status, "MalformedAnswer",
                      "Object storage started an upload of " + key + " without naming it.");
    return uploadId;
}

QString S3Client::uploadPart(const QString& key, const QString& uploadId, int partNumber,
                             int64_t size, const S3BodySource& source) const {
    const QString action = QStringLiteral("store part %1 of %2").arg(partNumber).arg(key);
    Target t = target(
        key, {{"partNumber", QByteArray::number(partNumber)}, {"uploadId", uploadId.toUtf8()}});
    t.signing.method = "PUT";
    SourcePump pump{source};
    auto result = connect(m_origin)->Put(t.pathAndQuery, headersOf(m_signer, t.signing),
                                         static_cast<size_t>(size), pump.provider(),
                                         "application/octet-stream");
    pump.rethrow(action);
    granted(result, action, m_origin);
    return QString::fromStdString(result->get_header_value("ETag"));
}

namespace {

QByteArray completionBody(const std::vector<S3Part>& parts) {
    QByteArray xml = "<CompleteMultipartUpload>";
    for (const S3Part& part : parts)
        xml += "<Part><PartNumber>" + QByteArray::number(part.number) + "</PartNumber><ETag>" +
               part.etag.toHtmlEscaped().toUtf8() + "</ETag></Part>";
    return xml + "</CompleteMultipartUpload>";
}

} // namespace

void S3Client::completeMultipartUpload(const QString& key, const QString& uploadId,
                                       const std::vector<S3Part>& parts) const {
    const QString action = "join the parts of " + key;
    const QByteArray body = completionBody(parts);
    Target t = target(key, {{"uploadId", uploadId.toUtf8()}});
    t.signing.method = "POST";
    t.signing.payloadHash = QCryptographicHash::hash(body, QCryptographicHash::Sha256).toHex();
    auto result =
        connect(m_origin)->Post(t.pathAndQuery, headersOf(m_signer, t.signing), body.constData(),
                                static_cast<size_t>(body.size()), "application/xml");
    if (!result)
        throw transportError(result.error(), action, m_origin);
    // S3 may answer 200 and still fail: the error then comes in the body.
    if (!succeeded(result->status) || xmlRoot(result->body) == "Error")
        throw answerError(succeeded(result->status) ? 500 : result->status, result->body, action);
}

void S3Client::abortMultipartUpload(const QString& key, const QString& uploadId) const {
    const QString action = "drop the upload of " + key;
    Target t = target(key, {{"uploadId", uploadId.toUtf8()}});
    t.signing.method = "DELETE";
    auto result = connect(m_origin)->Delete(t.pathAndQuery, headersOf(m_signer, t.signing));
    if (!result)
        throw transportError(result.error(), action, m_origin);
    if (!succeeded(result->status) && result->status != 404)
        throw answerError(result->status, result->body, action);
}

std::optional<S3ObjectInfo> S3Client::head(const QString& key) const {
    const QString action = "describe " + key;
    Target t = target(key, {});
    t.signing.method = "HEAD";
    auto result = connect(m_origin)->Head(t.pathAndQuery, headersOf(m_signer, t.signing));
    if (!result)
        throw transportError(result.error(), action, m_origin);
    if (result->status == 404)
        return std::nullopt;
    if (!succeeded(result->status))
        throw answerError(result->status, result->body, action);
    S3ObjectInfo info;
    info.size = QByteArray::fromStdString(result->get_header_value("Content-Length")).toLongLong();
    info.etag = QString::fromStdString(result->get_header_value("ETag"));
    info.contentType = QString::fromStdString(result->get_header_value("Content-Type"));
    return info;
}

S3Download S3Client::get(const QString& key, std::optional<S3Range> range,
                         const S3BodySink& sink) const {
    const QString action = "read " + key;
    Target t = target(key, {});
    t.signing.method = "GET";
    httplib::Headers headers = headersOf(m_signer, t.signing);
    if (range)
        headers.emplace("Range", "bytes=" + std::to_string(range->first) + '-' +
                                     std::to_string(range->last));
    S3Download download;
    int status = 0;
    bool stopped = false;
    std::string errorBody;
    auto onResponse = [&](const httplib::Response& response) {
        status = response.status;
        const int64_t length =
            QByteArray::fromStdString(response.get_header_value("Content-Length")).toLongLong();
        download = {length, 0, length,
                    QString::fromStdString(response.get_header_value("Content-Type"))};
        if (status == 206)
            readContentRange(response.get_header_value("Content-Range"), download);
        return true;
    };
    auto onBytes = [&](const char* data, size_t size) {
        if (!succeeded(status)) {
            errorBody.append(data, std::min(size, kErrorBodyLimit -
                                                      std::min(kErrorBodyLimit, errorBody.size())));
            return true;
        }
        stopped = !sink(data, size);
        return !stopped;
    };
    auto result = connect(m_origin)->Get(t.pathAndQuery, headers, onResponse, onBytes);
    if (stopped)
        throw S3Error(0, "Stopped", "The reader of " + key + " stopped the download.");
    if (!result)
        throw transportError(result.error(), action, m_origin);
    if (!succeeded(result->status))
        throw answerError(result->status, errorBody, action);
    return download;
}

void S3Client::remove(const QString& key) const {
    const QString action = "remove " + key;
    Target t = target(key, {});
    t.signing.method = "DELETE";
    auto result = connect(m_origin)->Delete(t.pathAndQuery, headersOf(m_signer, t.signing));
    if (!result)
        throw transportError(result.error(), action, m_origin);
    if (!succeeded(result->status) && result->status != 404)
        throw answerError(result->status, result->body, action);
}

QUrl S3Client::presignedGetUrl(const QString& key, int expiresSeconds) const {
    Target t = target(key, {});
    t.signing.method = "GET";
    const QByteArray query =
        m_signer.presignQuery(t.signing, QDateTime::currentDateTimeUtc(), expiresSeconds);
    return QUrl::fromEncoded(m_origin + t.signing.encodedPath + '?' + query, QUrl::StrictMode);
}

} // namespace vantel::server
