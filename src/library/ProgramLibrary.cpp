// The library over the program's settings and the save from the capture controller's buffer:
// the pieces of the library that know the settings store and the capture controller. Kept apart
// so that the rest of the library is built and tested without them.

#include "Clips.h"
#include "InBackground.h"
#include "Library.h"
#include "engine/CaptureController.h"
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

} // namespace

Library::Places Library::placesOf(Settings& settings) {
    auto folder = std::make_shared<FolderCopy>(settings.folder());
    // Direct: the settings window changes the folder and calls reload() right after.
    QObject::connect(
        &settings, &Settings::folderChanged, &settings,
        [folder](const QString& path) { folder->set(path); }, Qt::DirectConnection);
    return {[folder] { return folder->get(); }, AppPaths::appSupport()};
}

Library& Library::shared() {
    static Library* library = new Library(placesOf(Settings::shared()));
    return *library;
}

QCoro::Task<Clip> Clips::saveFromBuffer(const CaptureController& capture, Library& library,
                                        double seconds, media::CopyMethod copy) {
    const double requested = media::captureClockNow();
    std::shared_ptr<ReplayBuffer> buffer = capture.buffer();
    std::optional<GameTarget> target = capture.target();
    if (!buffer)
        throw RecordError::nothingBuffered();
    auto work = saveFromBuffer(SnapshotSource::of(std::move(buffer), copy), std::move(target),
                               seconds, library, requested);
    co_return co_await std::move(work);
}

} // namespace vantel
