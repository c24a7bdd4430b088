#pragma once

// What the service checks in an upload before it is shown to anyone: the joined video and the
// preview must be MP4 files whose first video track is H.264 (what Discord and browsers play
// inline); the thumbnail must be a JPEG picture. The checks read through a BlobReader, so they
// work the same on disk and in a bucket.
//
// Threads: any; each call uses only its own FFmpeg objects.
// Errors: MediaRefused with the sentence the uploader sees ("error" of a 422 reply).

#include "BlobStore.h"
#include "Catalog.h"

#include <QByteArray>
#include <stdexcept>

namespace vantel::server {

class MediaRefused : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Opens the file with libavformat: an MP4 (or QuickTime) container holding an H.264 video
// track with a size. Returns that track's size and the file's duration in seconds.
VideoFacts checkMp4(BlobReader& reader);

// The size in the JPEG's start-of-frame header; refuses anything that is not a JPEG.
AssetFacts checkJpeg(const QByteArray& bytes);

} // namespace vantel::server
