#pragma once

// A client of S3-compatible object storage: objects, multipart uploads, ranged downloads,
// presigned URLs. Every request is signed with Signature Version 4 (S3Signer); bodies are
// streamed both ways, so no object is ever held in memory whole. Buckets are addressed by path
// ("http://host:port/bucket/key"), which every S3-compatible store understands.
//
// Threads: a client is immutable after construction; any thread may call it, also several at
// once. Each call opens its own connection and blocks until the request has ended.
//
// Errors: S3Error for an answer of the storage (its HTTP status, S3's error code and a sentence
// for the operator), S3Error with status 0 when the storage cannot be reached or a transfer
// breaks off, std::invalid_argument for a configuration that cannot work.

#include "S3Signer.h"
#include "ServerConfig.h"

#include <QString>
#include <QUrl>
#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <vector>

namespace vantel::server {

class S3Error : public std::runtime_error {
public:
    S3Error(int status, QString code, const QString& message);
    int status() const { return m_status; }
    const QString& code() const { return m_code; }

private:
    int m_status;
    QString m_code;
};

struct S3Part {
    int number = 0;
    QString etag; // as the storage answered it, quotes included
};

struct S3ObjectInfo {
    int64_t size = 0;
    QString etag;
    QString contentType;
};

// A byte range, both ends included.
struct S3Range {
    int64_t first = 0;
    int64_t last = 0;
};

// What a download delivered: the object's whole size and the range sent.
struct S3Download {
    int64_t totalSize = 0;
    int64_t first = 0;
    int64_t length = 0;
    QString contentType;
};

// Fills up to `capacity` bytes of an upload's body and returns how many; 0 or less before the
// promised size ends the request with an error. Called on the calling thread, in order.
using S3BodySource = std::function<int64_t(char* data, int64_t capacity)>;
// Takes the next bytes of a download, in order; false stops the transfer (an S3Error follows).
using S3BodySink = std::function<bool(const char* data, size_t size)>;

class S3Client {
public:
    // Throws std::invalid_argument when the endpoint is not an http(s) address or a field is
    // missing.
    explicit S3Client(S3Config config);

    const S3Config& config() const { return m_config; }

    // Stores `size` bytes pulled from `source` under `key`; returns the object's ETag.
    QString putObject(const QString& key, int64_t size, const S3BodySource& source,
                      const QByteArray& contentType = "application/octet-stream") const;
    // Stores a small body held in memory, with its SHA-256 signed.
    QString putObject(const QString& key, const QByteArray& body,
                      const QByteArray& contentType = "application/octet-stream") const;

    // Multipart upload: every part but the last must be at least 5 MiB (S3's rule).
    QString createMultipartUpload(const QString& key, const QByteArray& contentType) const;
    QString uploadPart(const QString& key, const QString& uploadId, int partNumber, int64_t size,
                       const S3BodySource& source) const;
    // Joins the parts, given in ascending order of number, into the object.
    void completeMultipartUpload(const QString& key, const QString& uploadId,
                                 const std::vector<S3Part>& parts) const;
    // Drops an unfinished upload and its parts; an upload the storage no longer knows is no
    // error.
    void abortMultipartUpload(const QString& key, const QString& uploadId) const;

    // None when the object does not exist.
    std::optional<S3ObjectInfo> head(const QString& key) const;
    // Streams the object, or `range` of it, into `sink`. A range past the end is S3Error 416.
    S3Download get(const QString& key, std::optional<S3Range> range, const S3BodySink& sink) const;
    // Removes the object; removing an absent object is no error.
    void remove(const QString& key) const;

    // A URL that lets anyone holding it GET the object for `expiresSeconds`.
    QUrl presignedGetUrl(const QString& key, int expiresSeconds) const;

private:
    struct Target;
    Target target(const QString& key, S3Fields query) const;

    S3Config m_config;
    S3Signer m_signer;
    QByteArray m_origin;   // "http://host:port", what the HTTP client connects to
    QByteArray m_host;     // the Host header
    QByteArray m_basePath; // the endpoint's own path, without a trailing "/"
};

} // namespace vantel::server
