// The program's shared library and the operations that use the program's shared instances
// (settings, capture). Kept apart so that the library can be built and tested without them.

#include "Background.h"
#include "Clips.h"
#include "Library.h"
#include "engine/Capture.h"
#include "engine/RecordError.h"
#include "media/MediaSample.h"
#include "settings/AppPaths.h"
#include "settings/Settings.h"

#include <QMutex>
#include <QMutexLocker>
#include <memory>

namespace vantel {

namespace {

// The clip folder as the settings last announced it. Settings lives on the main thread while
// the library is also used from background tasks, so the library reads this copy instead.
class FolderCopy {
public:
    explicit FolderCopy(QString folder)
        : m_folder(std::move(folder)) {}
    void set(const QString& folder) {
        QMutexLocker lock(&m_mutex);
        m_folder = folder;
    }
    QString get() const {
        QMutexLocker lock(&m_mutex);
        return m_folder;
    }

private:
    mutable QMutex m_mutex;
    QString m_folder;
};

Library* makeShared() {
    Settings& settings = Settings::shared();
    auto folder = std::make_shared<FolderCopy>(settings.folder());
    // Direct: the settings window changes the folder and calls reload() right after.
    QObject::connect(
        &settings, &Settings::folderChanged, &settings,
        [folder](const QString& path) { folder->set(path); }, Qt::DirectConnection);
    return new Library({[folder] { return folder->get(); }, AppPaths::appSupport()});
}

} // namespace

Library& Library::shared() {
    static Library* library = makeShared();
    return *library;
}

QCoro::Task<Clip> Clips::saveFromBuffer(double seconds, media::CopyMethod copy) {
    const double requested = media::captureClockNow();
    std::shared_ptr<ReplayBuffer> buffer = Capture::shared().buffer();
    std::optional<GameTarget> target = Capture::shared().target();
    if (!buffer)
        throw RecordError::nothingBuffered();
    auto work = saveFromBuffer(SnapshotSource::of(std::move(buffer), copy), std::move(target),
                               seconds, Library::shared(), requested);
    co_return co_await std::move(work);
}

QCoro::Task<QString> Clips::trimCopy(Clip clip, media::TimeRange range) {
    auto work = trimCopy(std::move(clip), range, Library::shared());
    co_return co_await std::move(work);
}

} // namespace vantel
