#include "Clips.h"

#include "InBackground.h"
#include "engine/RecordError.h"
#include "media/DirectSave.h"
#include "media/Exporter.h"
#include "media/FrameGrabber.h"
#include "media/MediaError.h"
#include "media/MediaProbe.h"

#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QThreadPool>
#include <algorithm>
#include <cmath>
#include <filesystem>

namespace vantel::Clips {

namespace {

using media::MediaError;
namespace fs = std::filesystem;

fs::path toPath(const QString& path) {
    return fs::path(path.toStdString());
}
QString fromPath(const fs::path& path) {
    return QString::fromStdString(path.string());
}

// Removes the snapshot file when the save ends, whichever way it ends.
struct SnapshotFile {
    fs::path path;
    ~SnapshotFile() {
        std::error_code ignored;
        fs::remove(path, ignored);
    }
};

bool entryExists(const QString& path) {
    std::error_code ignored;
    return fs::exists(fs::symlink_status(toPath(path), ignored));
}

// "<stem>.mp4", else "<stem> 2.mp4", "<stem> 3.mp4", ...: the first name not taken in `dir`.
QString firstFreeName(const QString& dir, const QString& stem) {
    QString candidate = QDir(dir).filePath(stem + QStringLiteral(".mp4"));
    for (int n = 2; entryExists(candidate); ++n)
        candidate = QDir(dir).filePath(stem + QStringLiteral(" %1.mp4").arg(n));
    return candidate;
}

RecordError describe(const MediaError& error) {
    switch (error.kind()) {
    case MediaError::Kind::noVideo:
        return RecordError::exportFailed("That file has no video.");
    case MediaError::Kind::openInput:
        return RecordError::exportFailed("Could not read the clip.");
    case MediaError::Kind::openOutput:
        return RecordError::exportFailed("Could not write the clip.");
    case MediaError::Kind::read:
        return RecordError::exportFailed("Reading the clip failed.");
    case MediaError::Kind::write:
        break;
    }
    return RecordError::exportFailed("Writing the clip failed.");
}

bool cannotBegin(const MediaError& error) {
    return error.kind() == MediaError::Kind::openInput ||
           error.kind() == MediaError::Kind::openOutput;
}

using Writer = std::function<void(const fs::path& target)>;

// Writes a clip with `write` into the first free "<stem>[ n].mp4" of `dir`. A name taken by a
// concurrent save between the check and the write moves on to the next name.
QString writeToFreeName(const QString& dir, const QString& stem, const Writer& write,
                        const char* cannotStartText) {
    for (int attempt = 0;; ++attempt) {
        QString target = firstFreeName(dir, stem);
        try {
            write(toPath(target));
            return target;
        } catch (const MediaError& error) {
            if (error.kind() == MediaError::Kind::openOutput && entryExists(target) && attempt < 3)
                continue;
            if (cannotBegin(error))
                throw RecordError::exportFailed(cannotStartText);
            throw describe(error);
        }
    }
}

// Pass-through copy of `range` of `source` into a free name, as writeToFreeName.
QString copyToFreeName(const QString& source, const QString& dir, const QString& stem,
                       media::TimeRange range, const char* cannotStartText) {
    return writeToFreeName(
        dir, stem, [&](const fs::path& target) { media::copyRange(toPath(source), target, range); },
        cannotStartText);
}

media::MediaInfo probeSnapshot(const fs::path& snapshot) {
    try {
        return media::probeMedia(snapshot);
    } catch (const MediaError&) {
        throw RecordError::exportFailed("Could not start saving the clip.");
    }
}

// Saves run on threads of their own, so that a burst of exports or thumbnails on the global pool
// never holds up the clip the player asked for.
QThreadPool& savePool() {
    static QThreadPool* pool = [] {
        auto* p = new QThreadPool;
        p->setMaxThreadCount(2);
        return p;
    }();
    return *pool;
}

media::TimeRange clipRange(const media::MediaInfo& info, double seconds) {
    const double end = info.videoEnd;
    double start = std::max(info.videoStart, end - seconds);
    return {std::min(start, end), end};
}

// `range` within the clip's video, as an export keeps it: a range reaching before the start
// would otherwise give the copy an empty stretch at its front.
media::TimeRange trimRange(const QString& clip, media::TimeRange range) {
    media::MediaInfo info;
    try {
        info = media::probeMedia(toPath(clip));
    } catch (const MediaError&) {
        throw RecordError::exportFailed("Could not start the trim.");
    }
    if (info.videoTracks == 0)
        throw RecordError::exportFailed("That file has no video.");
    const media::TimeRange kept{std::max(range.start, info.videoStart),
                                std::min(range.end, info.videoEnd)};
    if (!(kept.end > kept.start))
        throw RecordError::exportFailed("Could not start the trim.");
    return kept;
}

// What a save knows of the clip it wrote; what it does not know is read from the file.
struct SavedFile {
    QString file;
    QDateTime created;
    std::optional<double> duration;
    std::optional<int> audioTracks;
};

ClipMeta newClipMeta(const QString& game, double seconds, const SnapshotSource& source,
                     const SavedFile& saved) {
    ClipMeta meta;
    meta.title = game + QStringLiteral(" clip");
    meta.game = game;
    meta.created = ClipMeta::wholeSeconds(saved.created);
    meta.duration = seconds;
    meta.width = source.width;
    meta.height = source.height;
    if (saved.duration && saved.audioTracks) {
        meta.duration = *saved.duration;
        meta.hasMic = *saved.audioTracks >= 2;
        return meta;
    }
    try {
        media::MediaInfo info = media::probeHeaders(toPath(saved.file));
        if (std::isfinite(info.duration))
            meta.duration = info.duration;
        meta.hasMic = info.audioTracks >= 2;
    } catch (const MediaError&) {
    }
    return meta;
}

} // namespace

QString safe(const QString& name) {
    static const QString unsafe = QStringLiteral("/:\\?%*|\"<>");
    QString out = name;
    for (QChar& c : out)
        if (unsafe.contains(c))
            c = QLatin1Char('-');
    auto blank = [](QChar c) {
        return c == u' ' || c == u'\t';
    };
    qsizetype begin = 0;
    qsizetype end = out.size();
    // Blanks, and dots that would hide the folder and its clips from the library.
    while (begin < end && (blank(out[begin]) || out[begin] == u'.'))
        ++begin;
    while (end > begin && blank(out[end - 1]))
        --end;
    out = out.mid(begin, end - begin);
    if (out.isEmpty())
        return QStringLiteral("Game");
    return out;
}

namespace {

struct SaveName {
    QDateTime created;
    QString dir;  // the game's folder, created
    QString stem; // "<safe game> <date>"
};

SaveName nameFor(const QString& game, const Library& library) {
    SaveName name;
    name.created = QDateTime::currentDateTime();
    name.dir = QDir(library.folder()).filePath(safe(game));
    fs::create_directories(toPath(name.dir));
    name.stem =
        safe(game) + u' ' +
        QLocale::system().toString(name.created, QStringLiteral("yyyy-MM-dd 'at' HH.mm.ss"));
    return name;
}

// The clip written straight from the buffer's segment files: no snapshot file, and the media
// bytes copied once, in the kernel where it can.
SavedFile saveFromSegments(const SnapshotSource& source, const QString& game, double seconds,
                           double until, const Library& library) {
    const ReplayBuffer::SegmentSet set = source.segments(seconds, until);
    const SaveName name = nameFor(game, library);
    media::DirectSaveResult result;
    const auto write = [&](const fs::path& target) {
        try {
            result = media::saveNewest(set.runs, seconds, target, source.copy);
        } catch (const MediaError& error) {
            if (error.kind() == MediaError::Kind::noVideo)
                throw RecordError::nothingBuffered();
            throw;
        }
    };
    const QString file =
        writeToFreeName(name.dir, name.stem, write, "Could not start saving the clip.");
    return {file, name.created, result.duration, result.audioTracks};
}

// The clip cut from a snapshot file with the pass-through copy.
SavedFile saveFromSnapshot(const SnapshotSource& source, const QString& game, double seconds,
                           double until, const Library& library) {
    SnapshotFile snapshot{source.snapshot(seconds, until).url};
    media::MediaInfo info = probeSnapshot(snapshot.path);
    if (info.videoTracks == 0)
        throw RecordError::nothingBuffered();
    const media::TimeRange range = clipRange(info, seconds);
    const SaveName name = nameFor(game, library);
    return {copyToFreeName(fromPath(snapshot.path), name.dir, name.stem, range,
                           "Could not start saving the clip."),
            name.created,
            {},
            {}};
}

} // namespace

Clip saveClip(const SnapshotSource& source, const std::optional<GameTarget>& target, double seconds,
              Library& library, double until) {
    const QString game = target ? QString::fromStdString(target->name) : QStringLiteral("Desktop");
    const SavedFile saved = source.segments
                                ? saveFromSegments(source, game, seconds, until, library)
                                : saveFromSnapshot(source, game, seconds, until, library);
    ClipMeta meta = newClipMeta(game, seconds, source, saved);
    library.add(saved.file, meta);
    return Clip{saved.file, meta};
}

QCoro::Task<Clip> saveFromBuffer(SnapshotSource source, std::optional<GameTarget> target,
                                 double seconds, Library& library, double until) {
    auto work = detail::inBackground(
        [source = std::move(source), target = std::move(target), seconds, &library, until] {
            return saveClip(source, target, seconds, library, until);
        },
        &savePool());
    co_return co_await std::move(work);
}

QCoro::Task<std::optional<QByteArray>> jpegFrame(QString path, double maxWidth, double at) {
    auto work = detail::inBackground([path, maxWidth, at]() -> std::optional<QByteArray> {
        auto bytes = media::jpegFrame(toPath(path), maxWidth, at);
        if (!bytes || bytes->empty())
            return std::nullopt;
        return QByteArray(reinterpret_cast<const char*>(bytes->data()),
                          static_cast<qsizetype>(bytes->size()));
    });
    co_return co_await std::move(work);
}

QString trimClip(const Clip& clip, media::TimeRange range, Library& library) {
    const media::TimeRange kept = trimRange(clip.url, range);
    const QFileInfo source(clip.url);
    const QString file = copyToFreeName(clip.url, source.path(),
                                        source.completeBaseName() + QStringLiteral(" trimmed"),
                                        kept, "Could not start the trim.");
    ClipMeta meta = clip.meta;
    meta.title += QStringLiteral(" (trimmed)");
    meta.created = ClipMeta::wholeSeconds(QDateTime::currentDateTimeUtc());
    meta.duration = kept.duration();
    meta.shareID.reset();
    meta.shareURL.reset();
    library.add(file, meta);
    return file;
}

QCoro::Task<QString> trimCopy(Clip clip, media::TimeRange range, Library& library) {
    auto work =
        detail::inBackground([clip, range, &library] { return trimClip(clip, range, library); });
    co_return co_await std::move(work);
}

QCoro::Task<> exportClip(QString source, QString target, ExportOptions options,
                         std::function<void(double)> progress) {
    media::ExportSettings settings{options.range,     options.gameVolume, options.micVolume,
                                   options.maxHeight, options.forceH264,  options.bitrate};
    auto work = detail::inBackground([=] {
        try {
            media::exportClip(toPath(source), toPath(target), settings, progress);
        } catch (const MediaError& error) {
            throw describe(error);
        }
    });
    co_await std::move(work);
}

} // namespace vantel::Clips
