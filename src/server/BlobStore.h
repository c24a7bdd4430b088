#pragma once

// Where the bytes of shared clips live: the parts of an upload in progress, the joined video,
// the preview and the thumbnail. The catalog holds what is known about them; the store holds
// only bytes, named by clip id and kind. Two implementations: DiskBlobStore (files under the
// data folder) and an S3-compatible bucket (parts become a multipart upload).
//
// Streaming: a body is written through a BlobSink as it arrives from the network, chunk by
// chunk, so no upload is ever held whole in memory (an implementation may buffer up to one part).
// Reading goes through a BlobReader that answers byte ranges, for Range requests and for the
// upload check.
//
// Nothing about an upload is kept in the process between requests: what a later request needs
// (the multipart upload's handle, each part's receipt) is returned to the caller, which stores
// it in the catalog and hands it back. So the parts of one clip may reach different instances.
//
// Threads: every method may be called from any request thread at the same time; sinks and
// readers belong to the thread that opened them. Calls block on disk or network.
//
// Errors: BlobError with a sentence for the operator's log (the HTTP layer answers a generic
// 500 or 503); a blob that does not exist is std::nullptr from open(), never an exception.

#include <QList>
#include <QString>
#include <cstdint>
#include <memory>
#include <stdexcept>

namespace vantel::server {

class BlobError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The finished files of a clip.
enum class BlobKind { Video, Preview, Thumb };

// A part as the store needs it again when joining: its number and the receipt putPart gave.
struct StoredPart {
    int64_t number = 0;
    int64_t size = 0;
    QString tag;
};

// One body being written. write() takes the chunks in order; commit() makes the blob (or the
// part) visible, replacing an earlier one of the same name, and returns the receipt (an S3
// ETag; empty on disk). Destroying a sink without commit() discards what was written.
class BlobSink {
public:
    virtual ~BlobSink() = default;
    virtual void write(const char* data, size_t size) = 0;
    virtual QString commit() = 0;
};

// A stored blob opened for reading. read() fills up to `size` bytes from `offset` and returns
// how many it gave (0 at or past the end); it throws BlobError when the storage fails.
class BlobReader {
public:
    virtual ~BlobReader() = default;
    virtual int64_t size() const = 0;
    virtual size_t read(int64_t offset, char* data, size_t size) = 0;
};

class BlobStore {
public:
    virtual ~BlobStore() = default;

    // Starts the upload of a clip's video; the handle (may be empty) goes into the catalog and
    // comes back to the calls below.
    virtual QString beginUpload(const QString& clipId) = 0;
    // A sink for part `number` of `size` bytes. A part written again replaces the first.
    virtual std::unique_ptr<BlobSink> openPart(const QString& clipId, const QString& handle,
                                               int64_t number, int64_t size) = 0;
    // Joins the parts, in the order given (numbers 1..N, all present), into the clip's Video
    // blob and drops the parts. Afterwards open(clipId, Video) reads the whole file.
    virtual void joinParts(const QString& clipId, const QString& handle,
                           const QList<StoredPart>& parts) = 0;
    // Drops an unfinished upload's parts (a refused or deleted clip). No error when none.
    virtual void abortUpload(const QString& clipId, const QString& handle) = 0;

    // A sink for a whole finished blob of `size` bytes (the preview, the thumbnail).
    virtual std::unique_ptr<BlobSink> openBlob(const QString& clipId, BlobKind kind,
                                               int64_t size) = 0;
    // Null when the blob does not exist.
    virtual std::unique_ptr<BlobReader> open(const QString& clipId, BlobKind kind) = 0;
    // Removes one finished blob. No error when it does not exist.
    virtual void remove(const QString& clipId, BlobKind kind) = 0;
    // Removes everything of a clip: its finished blobs and any parts.
    virtual void removeClip(const QString& clipId, const QString& handle) = 0;
};

} // namespace vantel::server
