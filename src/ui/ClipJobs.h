#pragma once

// The long steps of the clip detail view: a trimmed copy, a share, stopping a share and a move
// to the Trash. Each runs as a free coroutine: the view may be gone when it resumes, so it holds
// the view by a guarded pointer and keeps what it reports with by value. While the view is open
// the outcome reaches it through `finish` (no value: it worked; else the failure's text); once
// it has closed, a failure (and a finished trim or share) is told as a toast.
//
// Thread: main thread (they resume on it).

#include "library/Clip.h"
#include "library/Clips.h"
#include "media/RangeCopy.h"
#include "ui/ShareService.h"

#include <QCoro/QCoroTask>
#include <QPointer>
#include <QString>
#include <functional>
#include <optional>

namespace vantel {

class ClipDetail;
class Library;

namespace ClipJobs {

// Shows a short message; `ok` false for a failure. May be empty: nothing is shown.
using Toast = std::function<void(const QString& title, const QString& detail, bool ok)>;
using Finish = std::function<void(std::optional<QString> failure)>;

// Saves `range` of `clip` as a new clip; clears the view's trim range once saved.
QCoro::Task<> trim(QPointer<ClipDetail> view, Library& library, Clip clip, media::TimeRange range,
                   Toast toast, Finish finish);

// Uploads `clip` as `title` and copies its link.
QCoro::Task<> share(QPointer<ClipDetail> view, ShareService& sharing, Clip clip,
                    Clips::ExportOptions options, QString title, Toast toast,
                    ShareService::Progress progress, Finish finish);

QCoro::Task<> unshare(QPointer<ClipDetail> view, ShareService& sharing, Clip clip, Toast toast,
                      Finish finish);

// Off the window's thread: the move touches the file system.
QCoro::Task<> trash(QPointer<ClipDetail> view, Library& library, Clip clip, Toast toast,
                    Finish finish);

} // namespace ClipJobs

} // namespace vantel
