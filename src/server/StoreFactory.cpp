#include "StoreFactory.h"

#include "DiskBlobStore.h"

#include <QDir>

namespace vantel::server {

std::unique_ptr<BlobStore> makeBlobStore(const ServerConfig& config) {
    if (config.s3.enabled())
        throw BlobError("This build of vantel-share has no S3 storage yet.");
    return std::make_unique<DiskBlobStore>(QDir(config.dataDir).filePath(QStringLiteral("blobs")));
}

} // namespace vantel::server
