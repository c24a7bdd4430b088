#pragma once

// Facts about a media file, read from its headers and index without decoding.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace vantel::media {

struct MediaInfo {
    int videoTracks = 0;
    int audioTracks = 0;
    // Of the first video track. Times are seconds on the file's presentation timeline (edit
    // lists applied): the range a player shows.
    double videoStart = 0.0;
    double videoEnd = 0.0;
    int width = 0;
    int height = 0;
    std::string videoCodec;          // FFmpeg's codec name: "h264", "hevc", ...
    std::optional<double> frameRate; // absent when the file does not tell
    int rotation = 0;                // degrees from the display matrix, 0 when none
    double duration = 0.0;           // of the whole file, seconds
};

// Throws MediaError(openInput) when the file cannot be opened or probed.
MediaInfo probeMedia(const std::filesystem::path& file);

// The same from the headers and the index alone, reading no media data: videoStart and videoEnd
// stay 0. Enough where a file's index is complete and only counts, sizes or the duration matter.
MediaInfo probeHeaders(const std::filesystem::path& file);

// probeHeaders, and whether the file holds what its index promises: a video or sound track with
// samples, a length above zero, and every sample's data inside the file. A clip cut short (a
// copy that broke off) still opens, but lists samples past its end; a player would stop there.
// Throws MediaError(openInput) when the file cannot be opened or fails the check.
MediaInfo probeIntact(const std::filesystem::path& file);

} // namespace vantel::media
