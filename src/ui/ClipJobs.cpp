#include "ClipJobs.h"

#include "library/InBackground.h"
#include "library/Library.h"
#include "ui/ClipDetail.h"
#include "ui/Theme.h"

#include <QFileInfo>

namespace vantel::ClipJobs {

namespace {

void toastIf(const Toast& toast, const QString& title, const QString& detail, bool ok) {
    if (toast)
        toast(title, detail, ok);
}

// The failure being handled reaches the view while it is open, and a toast titled `title`
// once it has closed.
void tellFailure(const QPointer<ClipDetail>& view, const Finish& finish, const Toast& toast,
                 const QString& title) {
    const QString text = failureText(std::current_exception());
    if (view)
        finish(text);
    else
        toastIf(toast, title, text, false);
}

} // namespace

QCoro::Task<> trim(QPointer<ClipDetail> view, Library& library, Clip clip, media::TimeRange range,
                   Toast toast, Finish finish) {
    try {
        const QString path = co_await Clips::trimCopy(clip, range, library);
        if (view)
            view->setTrim(std::nullopt);
        toastIf(toast, QStringLiteral("Trimmed copy saved"), QFileInfo(path).fileName(), true);
        if (view)
            finish(std::nullopt);
    } catch (...) {
        tellFailure(view, finish, toast, QStringLiteral("Couldn't save the trimmed copy"));
    }
}

QCoro::Task<> share(QPointer<ClipDetail> view, ShareService& sharing, Clip clip,
                    Clips::ExportOptions options, QString title, Toast toast,
                    ShareService::Progress progress, Finish finish) {
    try {
        const QString link = co_await sharing.share(clip, options, title, progress);
        copyText(link);
        toastIf(toast, QStringLiteral("Link copied"), link, true);
        if (view)
            finish(std::nullopt);
    } catch (...) {
        tellFailure(view, finish, toast, QStringLiteral("Couldn't share the clip"));
    }
}

QCoro::Task<> unshare(QPointer<ClipDetail> view, ShareService& sharing, Clip clip, Toast toast,
                      Finish finish) {
    try {
        co_await sharing.unshare(clip);
        if (view)
            finish(std::nullopt);
    } catch (...) {
        // The link stays public until the service agrees: the user must know it is still up.
        tellFailure(view, finish, toast, QStringLiteral("Couldn't stop sharing the clip"));
    }
}

// The view goes back to the grid only once the file is gone; a refusal keeps it open with the
// reason.
QCoro::Task<> trash(QPointer<ClipDetail> view, Library& library, Clip clip, Toast toast,
                    Finish finish) {
    try {
        // A named task: GCC 12 destroys lambda temporaries inside a co_await expression twice.
        auto trashing = detail::inBackground([&library, clip] { library.deleteClip(clip); });
        co_await std::move(trashing);
        if (view)
            finish(std::nullopt);
    } catch (...) {
        tellFailure(view, finish, toast, QStringLiteral("Couldn't move the clip to the Trash"));
    }
}

} // namespace vantel::ClipJobs
