#pragma once

// Clip files in an S3-compatible bucket, so any number of vantel-share instances share them.
// Keys: "clips/<id>/video.mp4", "clips/<id>/preview.mp4", "clips/<id>/thumb.jpg".
//
// The video's parts become one S3 multipart upload, created with the clip (its upload id is
// the handle the catalog keeps); each part is streamed to S3 while it arrives, through a small
// BodyPipe and a thread of the sink's own, and its ETag is the receipt the catalog keeps, so
// whichever instance receives "done" can complete the upload. Finished blobs are streamed the
// same way. Readers fetch byte ranges with ranged GETs, in windows that grow while reading goes
// on in order (a served file) and stay small for the jumps of the upload check.
//
// Memory: a sink holds at most one pipe (1 MiB), a reader one window (at most 4 MiB).
// Threads: as BlobStore; the S3 client is immutable and shared by all threads.
// Errors: BlobError with the storage's own answer (status, S3 code, message). A storage that
// cannot abort multipart uploads (some S3 stand-ins) is told on stderr, not an error: the parts
// are then left to the bucket's lifecycle rule.

#include "BlobStore.h"
#include "S3Client.h"

namespace vantel::server {

class S3BlobStore : public BlobStore {
public:
    // `partSize` is the service's part size: S3 wants parts of at least 5 MiB but the last, so
    // a smaller one is refused with BlobError here rather than at the first "done".
    S3BlobStore(const S3Config& config, int64_t partSize);

    QString beginUpload(const QString& clipId) override;
    std::unique_ptr<BlobSink> openPart(const QString& clipId, const QString& handle, int64_t number,
                                       int64_t size) override;
    void joinParts(const QString& clipId, const QString& handle,
                   const QList<StoredPart>& parts) override;
    void abortUpload(const QString& clipId, const QString& handle) override;
    std::unique_ptr<BlobSink> openBlob(const QString& clipId, BlobKind kind, int64_t size) override;
    std::unique_ptr<BlobReader> open(const QString& clipId, BlobKind kind) override;
    void remove(const QString& clipId, BlobKind kind) override;
    void removeClip(const QString& clipId, const QString& handle) override;

    // The object key of a clip's blob (for tests that look into the bucket).
    static QString key(const QString& clipId, BlobKind kind);

    static constexpr int64_t kMinimumPartSize = 5 * 1024 * 1024;

private:
    S3Client m_client;
};

} // namespace vantel::server
