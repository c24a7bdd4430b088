#pragma once

// FFmpeg's own messages, through one handler of ours. Warnings and errors become one line each
// on standard error, "ffmpeg: <component>: <text>" (the component is the FFmpeg object that
// spoke: "mp4", "aac", "libx264", ...); information and debugging chatter is dropped, so a
// normal save or export writes nothing.
//
// installFfmpegLog() is idempotent and thread-safe; every media entry point (opening an input,
// creating an output, starting a segment writer) calls it, so no caller has to.

namespace vantel::media {

void installFfmpegLog();

} // namespace vantel::media
