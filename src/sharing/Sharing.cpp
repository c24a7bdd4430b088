#include "Sharing.h"

#include "API.h"
#include "Account.h"
#include "PartReader.h"
#include "WorkFolder.h"
#include "library/InBackground.h"
#include "settings/Settings.h"

#include <QCoro/QCoroTimer>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <exception>
#include <stdexcept>

namespace vantel::Sharing {

namespace {

const QString post = QStringLiteral("POST");
const QString put = QStringLiteral("PUT");
const QString mp4 = QStringLiteral("video/mp4");

QString clipPath(const QString& id) {
    return QStringLiteral("/api/clips/") + QString::fromLatin1(QUrl::toPercentEncoding(id));
}

QByteArray json(const QJsonObject& object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QString signInFirst() {
    return QStringLiteral("Sign in first.");
}

// Every wait of a share goes through here, so that a cancellation cuts it short.
template <typename T> QCoro::Task<T> guarded(QCoro::Task<T> work, const Services& services) {
    return unlessCancelled(std::move(work), services.cancellation);
}

void checkCancelled(const Services& services) {
    if (services.cancellation)
        services.cancellation->check();
}

// A render whose progress also polls the cancellation, so that a stopped share stops its
// export thread too (the exception ends the export at its next frame).
QCoro::Task<> render(const Services& services, const QString& source, const QString& target,
                     const Clips::ExportOptions& options, std::function<void(double)> progress) {
    std::function<void(double)> polled = [cancellation = services.cancellation,
                                          progress](double p) {
        if (cancellation)
            cancellation->check();
        progress(p);
    };
    auto rendering = guarded(services.render(source, target, options, polled), services);
    co_await std::move(rendering);
}

bool retryable(const API::Failure& failure) {
    return failure.status() >= 500 || failure.status() == 429;
}

// What one upload sends: bytes in memory, or a file read afresh at every attempt.
struct Payload {
    QByteArray bytes;
    QString file;
};

QCoro::Task<API::Response> sendOnce(const QString& path, const Payload& payload,
                                    const QString& type, double timeout) {
    if (!payload.file.isEmpty())
        return API::rawFile(put, path, payload.file, type, timeout);
    return API::raw(put, path, payload.bytes, type, timeout);
}

// One upload under the retry rule: its own attempt counter and delay.
QCoro::Task<> upload(QString path, Payload payload, QString type, double timeout,
                     const Services& services) {
    double delay = firstDelay;
    for (int attempt = 1;; ++attempt) {
        std::exception_ptr failure;
        try {
            auto sending = guarded(sendOnce(path, payload, type, timeout), services);
            co_await std::move(sending);
            co_return;
        } catch (const API::Failure& error) {
            if (!retryable(error))
                throw;
            failure = std::current_exception();
        } catch (const API::TransportError&) {
            failure = std::current_exception();
        }
        if (attempt == maxAttempts)
            std::rethrow_exception(failure);
        auto waiting = guarded(services.wait(delay), services);
        co_await std::move(waiting);
        delay = std::min(delay * 2.0, maxDelay);
    }
}

int64_t fileSize(const QString& path) {
    QFileInfo info(path);
    if (!info.exists())
        throw std::runtime_error("The upload copy of the clip is missing.");
    return info.size();
}

Clips::ExportOptions previewOptions(const Clips::ExportOptions& options) {
    Clips::ExportOptions preview = options;
    preview.maxHeight = 720;
    preview.forceH264 = true;
    preview.bitrate = 4'500'000;
    return preview;
}

QCoro::Task<Created> create(const QString& title, const Clip& clip, const VideoFacts& facts,
                            int64_t size, bool preview, const Services& services) {
    QJsonObject body{{QStringLiteral("title"), title},
                     {QStringLiteral("game"), clip.meta.game},
                     {QStringLiteral("duration"), facts.duration},
                     {QStringLiteral("width"), static_cast<qint64>(facts.width)},
                     {QStringLiteral("height"), static_cast<qint64>(facts.height)},
                     {QStringLiteral("size"), static_cast<qint64>(size)},
                     {QStringLiteral("preview"), preview}};
    const QString path = QStringLiteral("/api/clips");
    auto request = guarded(API::raw(post, path, json(body)), services);
    API::Response response = co_await std::move(request);
    co_return Created::fromJson(response.body);
}

QCoro::Task<> uploadParts(QString copy, QString id, int64_t partSize, int64_t parts,
                          const Progress& report, const Services& services) {
    PartReader reader(copy);
    for (int64_t n = 1; n <= parts; ++n) {
        const int64_t offset = (n - 1) * partSize;
        checkCancelled(services);
        auto reading = detail::inBackground(
            [&reader, offset, partSize] { return reader.read(offset, partSize); });
        QByteArray part = co_await std::move(reading);
        const QString path = clipPath(id) + QStringLiteral("/video/%1").arg(n);
        auto uploading = upload(path, Payload{std::move(part), {}}, mp4, videoTimeout, services);
        co_await std::move(uploading);
        report(QStringLiteral("Uploading"), 0.35 + 0.6 * static_cast<double>(n) / parts);
    }
}

QCoro::Task<Done> complete(QString id, int64_t parts, const Services& services) {
    const QString path = clipPath(id) + QStringLiteral("/done");
    QByteArray body = json({{QStringLiteral("parts"), static_cast<qint64>(parts)}});
    auto request = guarded(API::raw(post, path, std::move(body)), services);
    API::Response response = co_await std::move(request);
    Done done = Done::fromJson(response.body);
    checkLink(done.url);
    co_return done;
}

QCoro::Task<QString> shareIn(const WorkFolder& folder, Clip clip, Clips::ExportOptions options,
                             QString title, Progress report, Services services) {
    const QString copy = folder.file(QStringLiteral("clip.mp4"));
    report(QStringLiteral("Preparing"), 0.0);
    options.forceH264 = true;
    std::function<void(double)> copyProgress = [report](double p) {
        report(QStringLiteral("Preparing"), p * 0.25);
    };
    co_await render(services, clip.url, copy, options, copyProgress);
    const int64_t size = fileSize(copy);
    const bool preview = size > previewThreshold;
    const QString previewFile = folder.file(QStringLiteral("preview.mp4"));
    if (preview) {
        std::function<void(double)> previewProgress = [report](double p) {
            report(QStringLiteral("Preparing"), 0.25 + p * 0.1);
        };
        co_await render(services, clip.url, previewFile, previewOptions(options), previewProgress);
    }
    const double thumbAt = thumbnailTime(clip.meta.duration);
    auto thumbnailing = guarded(services.thumbnail(copy, 1280.0, thumbAt), services);
    std::optional<QByteArray> thumb = co_await std::move(thumbnailing);
    auto describing = guarded(services.facts(copy), services);
    VideoFacts facts = co_await std::move(describing);
    auto creating = create(title, clip, facts, size, preview, services);
    Created created = co_await std::move(creating);
    const int64_t parts = partCount(size, created.partSize);
    auto uploadingParts = uploadParts(copy, created.id, created.partSize, parts, report, services);
    co_await std::move(uploadingParts);
    if (preview) {
        // Streamed from the file: a five-minute preview is over 150 MB.
        const QString path = clipPath(created.id) + QStringLiteral("/preview");
        auto uploading = upload(path, Payload{{}, previewFile}, mp4, videoTimeout, services);
        co_await std::move(uploading);
    }
    if (thumb) {
        const QString path = clipPath(created.id) + QStringLiteral("/thumb");
        const QString jpeg = QStringLiteral("image/jpeg");
        auto uploading = upload(path, Payload{*thumb, {}}, jpeg, API::defaultTimeout, services);
        co_await std::move(uploading);
    }
    auto completing = complete(created.id, parts, services);
    Done done = co_await std::move(completing);
    report(QStringLiteral("Done"), 1.0);
    services.library.update(clip.url, [&](ClipMeta& meta) {
        meta.shareID = created.id;
        meta.shareURL = done.url;
        meta.title = title;
    });
    co_return done.url;
}

} // namespace

Services Services::standard(Library& library) {
    auto wait = [](double seconds) -> QCoro::Task<> {
        co_await QCoro::sleepFor(std::chrono::milliseconds(std::llround(seconds * 1000.0)));
    };
    return Services{&Clips::exportClip, &Clips::jpegFrame, &VideoFacts::load, wait, library, {}};
}

int64_t partCount(int64_t size, int64_t partSize) {
    if (partSize < minPartBytes)
        throw std::runtime_error(QStringLiteral("The sharing service asked for upload parts of %1 "
                                                "bytes, too small to send a clip. Try again later.")
                                     .arg(partSize)
                                     .toStdString());
    if (std::min(size, partSize) > maxPartBytes)
        throw std::runtime_error(QStringLiteral("The sharing service asked for upload parts of %1 "
                                                "MB, more than Vantel Record holds in memory at "
                                                "once. Try again later.")
                                     .arg(partSize / 1'000'000)
                                     .toStdString());
    const int64_t parts = std::max<int64_t>(1, size / partSize + (size % partSize != 0 ? 1 : 0));
    if (parts > maxParts)
        throw std::runtime_error(QStringLiteral("The sharing service asked for upload parts of "
                                                "%1 KB, so this clip would take %2 uploads, more "
                                                "than the %3 Vantel Record sends for one clip.")
                                     .arg(partSize / 1000)
                                     .arg(parts)
                                     .arg(maxParts)
                                     .toStdString());
    return parts;
}

double thumbnailTime(double duration) {
    return std::min(duration / 3.0, 1.0);
}

void checkLink(const QString& link) {
    QUrl url(link, QUrl::StrictMode);
    const QString scheme = url.scheme();
    if (!url.isValid() || url.host().isEmpty() ||
        (scheme != QLatin1String("https") && scheme != QLatin1String("http")))
        throw std::runtime_error("The sharing service sent a link that isn't a web address.");
}

QCoro::Task<QString> share(Clip clip, Clips::ExportOptions options, QString title,
                           Progress progress, Services services) {
    auto reading = guarded(Account::token(), services);
    if (!co_await std::move(reading))
        throw API::Failure(401, signInFirst());
    Progress report = [progress](const QString& label, double fraction) {
        if (progress)
            progress(label, fraction);
    };
    WorkFolder folder; // removed with its contents when this coroutine ends, however it ends
    auto sharing = shareIn(folder, std::move(clip), std::move(options), std::move(title),
                           std::move(report), std::move(services));
    co_return co_await std::move(sharing);
}

QCoro::Task<> unshare(Clip clip, Library& library) {
    if (!clip.meta.shareID)
        co_return;
    try {
        const QString method = QStringLiteral("DELETE");
        const QString path = clipPath(*clip.meta.shareID);
        auto request = API::raw(method, path);
        co_await std::move(request);
    } catch (const API::Failure& failure) {
        if (failure.status() != 404)
            throw;
    }
    library.update(clip.url, [](ClipMeta& meta) {
        meta.shareID.reset();
        meta.shareURL.reset();
    });
}

bool sharesAfterSave(const Settings& settings, const Account& account) {
    return settings.copyLinkAfterClip() && account.user();
}

QCoro::Task<std::optional<QString>> shareAfterSave(Clip clip, const Settings& settings,
                                                   const Account& account, Services services) {
    if (!sharesAfterSave(settings, account))
        co_return std::nullopt;
    QString title = clip.meta.title;
    auto sharing =
        share(std::move(clip), Clips::ExportOptions{}, std::move(title), {}, std::move(services));
    co_return co_await std::move(sharing);
}

QCoro::Task<QString> shareLibraryFile(QString path, Services services, Progress progress) {
    const QString wanted = QFileInfo(path).canonicalFilePath();
    // The list of a library made just now is still being walked.
    co_await services.library.settled();
    std::optional<Clip> found;
    for (const Clip& clip : services.library.clips())
        if (!wanted.isEmpty() && QFileInfo(clip.url).canonicalFilePath() == wanted)
            found = clip;
    if (!found)
        throw std::runtime_error(
            QStringLiteral("%1 isn't a clip in your library.").arg(path).toStdString());
    QString title = found->meta.title;
    auto sharing = share(std::move(*found), Clips::ExportOptions{}, std::move(title),
                         std::move(progress), std::move(services));
    co_return co_await std::move(sharing);
}

} // namespace vantel::Sharing
