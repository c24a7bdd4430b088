#pragma once

// Turning a library clip into a public link, and taking the link back.
//
// share() renders an H.264 upload copy (and, above 45,000,000 bytes, a 720-line preview) into a
// fresh "share-<UUID>" folder under the temporary folder, registers the copy with the service,
// uploads it in parts of the size the service asks for (one part in memory at a time, read from
// the file as it goes), uploads the preview (streamed from its file) and a thumbnail, completes the
// upload and stores the link, the share id and the title in the clip's metadata. The working folder
// is removed on every path; a failed share leaves the clip's metadata untouched.
//
// Parts, preview and thumbnail are retried on transport errors, 429 and 5xx: 6 attempts with
// waits of 1, 2, 4, 8 and 16 seconds; any other error status fails at once. Completion is sent
// once.
//
// A share given a cancellation (Services::cancellation) stops as soon as it fires: its wait is cut
// short, its render stops at the next frame, its working folder goes, and it ends with
// Cancelled; the service keeps the incomplete clip it may have created, as after any failure.
//
// Threads: share() and unshare() are coroutines on the awaiting thread (the main thread in the
// program); renders, file reads and probes run on the Qt thread pool. `progress` is called on
// the share's thread or, while rendering, on the export's thread. Several shares may run at
// once. Library::update is the only write to shared state.
//
// Errors are thrown as they come (API::Failure, API::TransportError, API::BadReply, RecordError
// and std::runtime_error of the renders and files); what() is the sentence to show. Without a
// stored token, API::Failure 401 "Sign in first." before anything else happens.

#include "Cancellation.h"
#include "Replies.h"
#include "VideoFacts.h"
#include "library/Clip.h"
#include "library/Clips.h"
#include "library/Library.h"

#include <QByteArray>
#include <QCoro/QCoroTask>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace vantel {
class Account;
class Settings;
} // namespace vantel

namespace vantel::Sharing {

using Progress = std::function<void(const QString& label, double fraction)>;

inline constexpr int64_t previewThreshold = 45'000'000; // larger copies get a preview
inline constexpr int maxAttempts = 6;
inline constexpr double firstDelay = 1.0;
inline constexpr double maxDelay = 20.0;
inline constexpr double videoTimeout = 300.0;
// The largest part held in memory; a service asking for more is refused.
inline constexpr int64_t maxPartBytes = 256LL * 1024 * 1024;
// The part size comes from the service: smaller parts, or more of them, than these would turn
// one clip into a flood of requests, so they are refused too.
inline constexpr int64_t minPartBytes = 256LL * 1024;
inline constexpr int64_t maxParts = 10'000;

// What a share uses from the rest of the program. Tests replace pieces: a render that writes a
// file of a chosen size, a clock that records the waits instead of sleeping.
struct Services {
    std::function<QCoro::Task<>(QString source, QString target, Clips::ExportOptions options,
                                std::function<void(double)> progress)>
        render;
    std::function<QCoro::Task<std::optional<QByteArray>>(QString file, double maxWidth, double at)>
        thumbnail;
    std::function<QCoro::Task<VideoFacts>(QString file)> facts;
    std::function<QCoro::Task<>(double seconds)> wait;
    Library& library;                           // where the shared clip's link is stored
    std::shared_ptr<Cancellation> cancellation; // none: the share runs to its end

    // Clips::exportClip, Clips::jpegFrame, VideoFacts::load, a real timer, over `library`.
    static Services standard(Library& library);
};

// Shares `clip` rendered with `options` (forceH264 always on) under `title`. Returns the link.
QCoro::Task<QString> share(Clip clip, Clips::ExportOptions options, QString title,
                           Progress progress, Services services);

// Removes the clip's link on the service ("DELETE"); on success or 404 clears shareID and
// shareURL in `library`. A clip without shareID sends nothing. Other failures are thrown and
// keep the link.
QCoro::Task<> unshare(Clip clip, Library& library);

// Whether a clip saved now is shared: "autoShare" is on in `settings` and a user is signed in to
// `account`. Main thread.
bool sharesAfterSave(const Settings& settings, const Account& account);

// The automatic upload after a save: when sharesAfterSave() still holds, shares the new clip
// with the default options under its own title and returns the link for the caller to copy and
// announce ("Link copied"); otherwise nothing. Errors are thrown (the caller shows "Couldn't
// share the clip" with them). Main thread.
QCoro::Task<std::optional<QString>> shareAfterSave(Clip clip, const Settings& settings,
                                                   const Account& account, Services services);

// "vantel-record share FILE": the library clip at `path` (any spelling of its path) shared with
// the default options under its own title. Throws std::runtime_error when the file is not a clip
// of the library, and whatever share() throws. Main thread.
QCoro::Task<QString> shareLibraryFile(QString path, Services services, Progress progress = {});

// The number of parts for a copy of `size` bytes: size / partSize rounded up, at least 1.
// Throws std::runtime_error (nothing is uploaded then) for a part size below minPartBytes, one
// larger than maxPartBytes for a copy that big, or one that needs more than maxParts parts.
int64_t partCount(int64_t size, int64_t partSize);

// Where the thumbnail is taken: min(duration / 3, 1.0) seconds.
double thumbnailTime(double duration);

// Throws std::runtime_error unless `link` is an absolute http or https address.
void checkLink(const QString& link);

} // namespace vantel::Sharing
