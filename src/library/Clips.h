#pragma once

// Operations that make clip files: saving the newest seconds of the replay buffer, trimmed
// copies, exports with options, JPEG frames. No state of their own.
//
// Every awaitable here runs its file and FFmpeg work off the calling thread and resumes the
// awaiting coroutine on its own thread: saves on threads of their own, so that exports and
// thumbnails (Qt's global pool) never hold up a save; everything else on the global pool. Failures
// are thrown: RecordError with the user's words for our own failures,
// std::filesystem::filesystem_error for the file system.

#include "Clip.h"
#include "Library.h"
#include "engine/GameTarget.h"
#include "engine/ReplayBuffer.h"
#include "media/FileCopy.h"
#include "media/RangeCopy.h"

#include <QByteArray>
#include <QCoro/QCoroTask>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <optional>

namespace vantel {
class CaptureController;
}

namespace vantel::Clips {

// What a save needs of a replay buffer, so the save can be exercised without a capture run.
struct SnapshotSource {
    // Throws like the buffer; `until` as in ReplayBuffer::snapshot.
    std::function<ReplayBuffer::Snapshot(double seconds, double until)> snapshot;
    // The buffer's own segments (ReplayBuffer::chooseSegments), by run: when set, the save writes
    // the clip straight from them and makes no snapshot file, reaching back into an earlier run
    // where its tracks are the newest run's.
    std::function<ReplayBuffer::SegmentSet(double seconds, double until)> segments;
    int width = 0;
    int height = 0;
    // How a save from the segments copies their media bytes.
    media::CopyMethod copy = media::CopyMethod::kernel;

    static SnapshotSource of(std::shared_ptr<ReplayBuffer> buffer,
                             media::CopyMethod copy = media::CopyMethod::kernel);
};

struct ExportOptions {
    std::optional<media::TimeRange> range; // absent: the whole video track
    float gameVolume = 1.0f;
    float micVolume = 1.0f;
    std::optional<int> maxHeight;
    bool forceH264 = false;
    std::optional<int64_t> bitrate;
};

// A game name as a file-name part: each of / : \ ? % * | " < > becomes "-", spaces and tabs are
// trimmed from both ends and dots from the start (a dot name is hidden, and the library skips
// hidden folders and files); an empty result becomes "Game", so a clip never lands in the clip
// folder's parent or root.
QString safe(const QString& name);

// Saves the newest `seconds` of the capture controller's buffer as a clip of its target into
// `library`. The buffer, the target and the moment of the request are read now, on the calling
// thread (the main thread): media recorded after this call is not in the clip, however late the
// save runs. Throws RecordError::nothingBuffered without a buffer. `copy` as in SnapshotSource.
QCoro::Task<Clip> saveFromBuffer(const CaptureController& capture, Library& library, double seconds,
                                 media::CopyMethod copy = media::CopyMethod::kernel);
// The same for a given source, target and library; `until` is the request's moment on the
// buffer's sample clock.
QCoro::Task<Clip> saveFromBuffer(SnapshotSource source, std::optional<GameTarget> target,
                                 double seconds, Library& library, double until);

// The whole save, synchronously, on the calling thread: [max(video start, end - seconds), end] of
// the media up to `until`, copied without re-encoding into
// "<folder>/<safe game>/<safe game> <date>.mp4" (" 2", " 3", ... before ".mp4" when two saves
// fall in one second), probe, Library::add. With the source's segments the clip is written
// straight from them (media::saveNewest); otherwise from a snapshot file, which is deleted on
// every path after it was made.
Clip saveClip(const SnapshotSource& source, const std::optional<GameTarget>& target, double seconds,
              Library& library, double until = std::numeric_limits<double>::infinity());

// Awaitable frame grab (see media::jpegFrame); nothing when no frame can be made.
QCoro::Task<std::optional<QByteArray>> jpegFrame(QString path, double maxWidth, double at = 0.5);

// Copies `range` of the clip, clamped to its video, next to it as "<base> trimmed.mp4" (or
// " trimmed 2.mp4", ...) without re-encoding and adds it to `library`. Returns the new path.
// A range that holds none of the video fails with "Could not start the trim.". Nothing is added
// on failure.
QCoro::Task<QString> trimCopy(Clip clip, media::TimeRange range, Library& library);
// The synchronous core of trimCopy, on the calling thread.
QString trimClip(const Clip& clip, media::TimeRange range, Library& library);

// Writes `source` to `target` (deleted first) with the options. `progress` runs on the export's
// video thread with values up to 1. The target is not added to the library.
QCoro::Task<> exportClip(QString source, QString target, ExportOptions options,
                         std::function<void(double)> progress = {});

} // namespace vantel::Clips
