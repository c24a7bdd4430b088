#include "StoreFactory.h"

#include "DiskBlobStore.h"
#include "S3BlobStore.h"

#include <QDir>

namespace vantel::server {

std::unique_ptr<BlobStore> makeBlobStore(const ServerConfig& config) {
    if (config.s3.enabled())
        return std::make_unique<S3BlobStore>(config.s3, config.partSize);
    return std::make_unique<DiskBlobStore>(QDir(config.dataDir).filePath(QStringLiteral("blobs")));
}

} // namespace vantel::server
