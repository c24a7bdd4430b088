#pragma once

// Builds the blob store the configuration asks for: an S3-compatible bucket when one is
// configured, else files under `<data>/blobs`.
//
// Errors: BlobError when the store cannot be set up (a folder that cannot be made, S3 settings
// that cannot work).

#include "BlobStore.h"
#include "ServerConfig.h"

#include <memory>

namespace vantel::server {

std::unique_ptr<BlobStore> makeBlobStore(const ServerConfig& config);

} // namespace vantel::server
