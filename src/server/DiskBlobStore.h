#pragma once

// Clip files in a folder: `<root>/<first two id characters>/<id>/` holds "preview.mp4",
// "thumb.jpg", while an upload runs "parts/<number>", and once it is joined the video as
// "video/<number>" with "video/index" (each part's number and size, in order), read as one
// file. The join renames the parts folder rather than copying the parts, so every uploaded byte
// is written once. A "video.mp4" (a whole video stored by openBlob) is read in its place.
// A sink writes to a temporary name beside its target and renames it on commit, so a reader
// never sees half a file and a cut-off upload leaves only a temporary file (removed with the
// sink).
//
// Threads: any; the store has no mutable state of its own (the file system arbitrates).
// Errors: BlobError naming the file and the system's reason; ids that are not isSafeId() are
// refused with BlobError before any path is formed.

#include "BlobStore.h"

namespace vantel::server {

class DiskBlobStore : public BlobStore {
public:
    explicit DiskBlobStore(QString root); // created when missing; throws BlobError

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

    // The folder of one clip (for tests that look at what is stored).
    QString clipFolder(const QString& clipId) const;

private:
    QString blobPath(const QString& clipId, BlobKind kind) const;
    QString partPath(const QString& clipId, int64_t number) const;
    QString joinedFolder(const QString& clipId) const;
    std::unique_ptr<BlobReader> openJoined(const QString& clipId) const;

    QString m_root;
};

} // namespace vantel::server
