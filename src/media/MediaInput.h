#pragma once

// Opening a media file for reading and the time arithmetic the clip operations share. Used by
// the probe, the range copy, the exporter and the frame grabber; no state of its own.

#include "FfmpegPtr.h"

#include <filesystem>
#include <optional>

namespace vantel::media {

// Opens `file` and reads its stream information. Throws MediaError(openInput) when it cannot.
InputContextPtr openMediaInput(const std::filesystem::path& file);

// Index of the first video stream (attached pictures such as cover art do not count), or -1.
int firstVideoStream(const AVFormatContext* fmt);

// Clockwise degrees (0, 90, 180, 270) that turn the stored picture upright, from the stream's
// display matrix; 0 when it has none.
int displayRotation(const AVStream* st);

// A decoder opened for the stream's codec parameters; `threads` 0 lets FFmpeg choose (worth it
// for long runs of frames, not for a single picture). Throws MediaError(openInput).
CodecContextPtr openDecoder(const AVStream* st, int threads = 1);

double toSeconds(int64_t ts, AVRational tb);
int64_t fromSeconds(double seconds, AVRational tb);

// The presented range of one stream in seconds, found by reading the packets of that stream
// (other streams are skipped without reading their data). Packets the demuxer marks as not
// presented (before an edit list's start) do not count. Nothing when the stream has no
// presented packet. Leaves the read position at the end of the file.
struct PresentedRange {
    double start = 0.0;
    double end = 0.0;
};
std::optional<PresentedRange> scanPresentedRange(AVFormatContext* fmt, int stream);

} // namespace vantel::media
