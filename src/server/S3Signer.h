#pragma once

// AWS Signature Version 4 for S3 requests: the Authorization header of a request, or the query
// of a presigned URL. Pure computation: no clock, no network; the caller passes the time.
//
// Threads: a signer is immutable after construction and may be used from any thread.

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QPair>

namespace vantel::server {

struct S3Credentials {
    QByteArray accessKey;
    QByteArray secretKey;
    QByteArray region = "us-east-1";
};

using S3Fields = QList<QPair<QByteArray, QByteArray>>;

// What is signed of one request.
struct S3SignedRequest {
    QByteArray method;      // "GET", "PUT", ...
    QByteArray host;        // the Host header as sent, with ":port" when not the default
    QByteArray encodedPath; // the path as sent on the request line, already percent-encoded
    S3Fields query;         // decoded names and values; a flag like "uploads" has an empty value
    S3Fields headers;       // further headers to sign (names in lower case), e.g. "range"
    QByteArray payloadHash = "UNSIGNED-PAYLOAD"; // hex SHA-256 of the body, or UNSIGNED-PAYLOAD
};

class S3Signer {
public:
    explicit S3Signer(S3Credentials credentials);

    // The headers to add to the request: "x-amz-date", "x-amz-content-sha256" and
    // "Authorization". The request's own `headers` and its Host are sent by the caller as given.
    S3Fields signHeaders(const S3SignedRequest& request, const QDateTime& now) const;

    // The encoded query string of a presigned URL valid for `expiresSeconds` from `now`: the
    // request's query plus the X-Amz-* fields and the signature. Only the host is signed.
    QByteArray presignQuery(const S3SignedRequest& request, const QDateTime& now,
                            int expiresSeconds) const;

    // RFC 3986 encoding as S3 canonicalises it (unreserved characters kept, "/" kept on request).
    static QByteArray encode(const QByteArray& text, bool keepSlash = false);
    // "a=1&b=" with encoded, sorted names and values.
    static QByteArray canonicalQuery(const S3Fields& query);

private:
    QByteArray scope(const QByteArray& date) const;
    QByteArray signature(const QByteArray& canonicalRequest, const QByteArray& amzDate) const;

    S3Credentials m_credentials;
};

} // namespace vantel::server
