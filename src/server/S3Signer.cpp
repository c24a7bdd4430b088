#include "S3Signer.h"

#include <QCryptographicHash>
#include <QMessageAuthenticationCode>
#include <algorithm>

namespace vantel::server {
namespace {

QByteArray hmac(const QByteArray& key, const QByteArray& message) {
    return QMessageAuthenticationCode::hash(message, key, QCryptographicHash::Sha256);
}

QByteArray sha256Hex(const QByteArray& data) {
    return QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex();
}

QByteArray amzDateOf(const QDateTime& now) {
    return now.toUTC().toString("yyyyMMdd'T'HHmmss'Z'").toLatin1();
}

struct CanonicalHeaders {
    QByteArray lines; // "name:value\n" per header, sorted by name
    QByteArray names; // "host;x-amz-date"
};

CanonicalHeaders canonicalHeaders(S3Fields headers) {
    for (auto& [name, value] : headers) {
        name = name.toLower();
        value = value.simplified();
    }
    std::sort(headers.begin(), headers.end());
    CanonicalHeaders result;
    for (const auto& [name, value] : headers) {
        result.lines += name + ':' + value + '\n';
        result.names += (result.names.isEmpty() ? "" : ";") + name;
    }
    return result;
}

QByteArray canonicalRequest(const S3SignedRequest& request, const S3Fields& query,
                            const CanonicalHeaders& headers, const QByteArray& payloadHash) {
    return request.method + '\n' + request.encodedPath + '\n' + S3Signer::canonicalQuery(query) +
           '\n' + headers.lines + '\n' + headers.names + '\n' + payloadHash;
}

} // namespace

S3Signer::S3Signer(S3Credentials credentials)
    : m_credentials(std::move(credentials)) {}

QByteArray S3Signer::encode(const QByteArray& text, bool keepSlash) {
    return text.toPercentEncoding(keepSlash ? "/" : "");
}

QByteArray S3Signer::canonicalQuery(const S3Fields& query) {
    QList<QByteArray> pairs;
    for (const auto& [name, value] : query)
        pairs.append(encode(name) + '=' + encode(value));
    std::sort(pairs.begin(), pairs.end());
    return pairs.join('&');
}

QByteArray S3Signer::scope(const QByteArray& date) const {
    return date + '/' + m_credentials.region + "/s3/aws4_request";
}

QByteArray S3Signer::signature(const QByteArray& canonical, const QByteArray& amzDate) const {
    const QByteArray date = amzDate.left(8);
    const QByteArray toSign =
        "AWS4-HMAC-SHA256\n" + amzDate + '\n' + scope(date) + '\n' + sha256Hex(canonical);
    QByteArray key = hmac("AWS4" + m_credentials.secretKey, date);
    key = hmac(key, m_credentials.region);
    key = hmac(key, "s3");
    key = hmac(key, "aws4_request");
    return hmac(key, toSign).toHex();
}

S3Fields S3Signer::signHeaders(const S3SignedRequest& request, const QDateTime& now) const {
    const QByteArray amzDate = amzDateOf(now);
    S3Fields signedFields = request.headers;
    signedFields.append(QPair<QByteArray, QByteArray>("host", request.host));
    signedFields.append(QPair<QByteArray, QByteArray>("x-amz-content-sha256", request.payloadHash));
    signedFields.append(QPair<QByteArray, QByteArray>("x-amz-date", amzDate));
    const CanonicalHeaders headers = canonicalHeaders(signedFields);
    const QByteArray canonical =
        canonicalRequest(request, request.query, headers, request.payloadHash);
    const QByteArray authorization =
        "AWS4-HMAC-SHA256 Credential=" + m_credentials.accessKey + '/' + scope(amzDate.left(8)) +
        ",SignedHeaders=" + headers.names + ",Signature=" + signature(canonical, amzDate);
    return {{"x-amz-date", amzDate},
            {"x-amz-content-sha256", request.payloadHash},
            {"Authorization", authorization}};
}

QByteArray S3Signer::presignQuery(const S3SignedRequest& request, const QDateTime& now,
                                  int expiresSeconds) const {
    const QByteArray amzDate = amzDateOf(now);
    const CanonicalHeaders headers = canonicalHeaders({{"host", request.host}});
    S3Fields query = request.query;
    query.append(QPair<QByteArray, QByteArray>("X-Amz-Algorithm", "AWS4-HMAC-SHA256"));
    query.append(QPair<QByteArray, QByteArray>("X-Amz-Credential", m_credentials.accessKey + '/' +
                                                                       scope(amzDate.left(8))));
    query.append(QPair<QByteArray, QByteArray>("X-Amz-Date", amzDate));
    query.append(
        QPair<QByteArray, QByteArray>("X-Amz-Expires", QByteArray::number(expiresSeconds)));
    query.append(QPair<QByteArray, QByteArray>("X-Amz-SignedHeaders", headers.names));
    const QByteArray canonical = canonicalRequest(request, query, headers, "UNSIGNED-PAYLOAD");
    return canonicalQuery(query) + "&X-Amz-Signature=" + signature(canonical, amzDate);
}

} // namespace vantel::server
