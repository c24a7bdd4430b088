#include "Library.h"

#include "IndexFile.h"
#include "media/MediaProbe.h"
#include "media/PartialFile.h"

#include <QCoreApplication>
#include <QCoro/QCoroFuture>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QPromise>
#include <QSaveFile>
#include <QStandardPaths>
#include <algorithm>
#include <filesystem>

namespace vantel {

namespace {

// Reading facts gives way to other work after this long, so a rename or a share link never
// waits behind a folder of unread files; the list is then published with what was read.
constexpr qint64 kFactsSliceMs = 300;

bool isClipFile(const QFileInfo& info) {
    QString suffix = info.suffix().toLower();
    return suffix == u"mp4" || suffix == u"mov" || suffix == u"m4v";
}

QDateTime creationDate(const QFileInfo& info) {
    QDateTime when = info.birthTime();
    if (!when.isValid())
        when = info.lastModified();
    if (!when.isValid())
        when = QDateTime::currentDateTimeUtc();
    return ClipMeta::wholeSeconds(when);
}

// Default metadata carries no facts; an entry made from it (a rename before the facts were read)
// is read like a file without entry.
bool lacksFacts(const ClipMeta& meta) {
    return !(meta.duration > 0.0) && meta.width == 0 && meta.height == 0;
}

std::optional<ClipMeta> withFacts(ClipMeta meta, const QString& path) {
    try {
        const media::MediaInfo info = media::probeIntact(path.toStdString());
        meta.duration = info.duration;
        meta.width = info.width;
        meta.height = info.height;
        meta.hasMic = info.audioTracks > 1;
        return meta;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

// Qt 6.4 moves a file into "files/" under the working folder when it cannot make the home
// Trash, and calls that a success; so the home Trash is made here first, and an answer that is
// not a real place in a Trash is undone.
bool moveToTrash(const QString& path) {
    const QString home =
        QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/Trash";
    if (!QDir().mkpath(home + "/files") || !QDir().mkpath(home + "/info"))
        return false;
    QString where;
    if (!QFile::moveToTrash(path, &where))
        return false;
    if (QFileInfo(where).isAbsolute() && QFileInfo::exists(where))
        return true;
    QFile::rename(where, path);
    return false;
}

QString freeBackupName(const QString& indexPath) {
    const QString base =
        indexPath + QStringLiteral(".bad-") +
        QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString name = base;
    for (int n = 2; QFileInfo::exists(name) || QFileInfo(name).isSymLink(); ++n)
        name = base + QStringLiteral("-%1").arg(n);
    return name;
}

bool writeWhole(const QString& path, const QByteArray& bytes) {
    // Unbuffered, so a short write (a full disk) is seen here and the old file stays in place;
    // a buffered one could be committed cut short.
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) &&
           file.write(bytes) == bytes.size() && file.commit();
}

QString damageText(int unreadEntries, bool unreadRest, const QString& keptAs) {
    QString text;
    if (unreadEntries == 1)
        text = QStringLiteral("1 clip shows its file name instead of its title, and its share link "
                              "is no longer known here.");
    else if (unreadEntries > 1)
        text = QStringLiteral("%1 clips show their file names instead of their titles, and their "
                              "share links are no longer known here.")
                   .arg(unreadEntries);
    if (unreadRest)
        text += (text.isEmpty() ? QString() : QStringLiteral(" ")) +
                QStringLiteral("Part of the clip index was unreadable; the clips it described show "
                               "their file names.");
    if (!keptAs.isEmpty())
        text += u' ' +
                QStringLiteral("The damaged file is kept as %1.").arg(QFileInfo(keptAs).fileName());
    return text;
}

} // namespace

struct Library::Round {
    bool write = false;
    bool walk = false;
    bool merge = false;
    QHash<QString, ClipMeta> index;
    QString folder;
    std::vector<std::shared_ptr<QPromise<void>>> waiters;
};

Library::Library(Places places, QObject* parent)
    : QObject(parent)
    , m_places(std::move(places))
    , m_indexPath(QDir(m_places.appSupport).filePath(QStringLiteral("library.json")))
    , m_thumbs(QDir(m_places.appSupport).filePath(QStringLiteral("thumbs"))) {
    m_thread.setMaxThreadCount(1);
    m_thread.setExpiryTimeout(5000);
    // Publication is a queued call on this object, so it must belong to the main thread even
    // when a background task is the first to ask for the library.
    if (auto* app = QCoreApplication::instance()) {
        if (thread() != app->thread() && !parent)
            moveToThread(app->thread());
        connect(app, &QCoreApplication::aboutToQuit, this, &Library::flush);
    }
    QDir().mkpath(m_thumbs);
    // Clips a killed process was writing; this process has written none yet.
    if (const QString clips = folder(); !clips.isEmpty())
        media::removeAbandonedPartials(clips.toStdString());
    load();
    reload();
}

Library::~Library() {
    flush();
}

void Library::flush() {
    m_stopping = true;
    m_thread.waitForDone();
}

QString Library::folder() const {
    return QDir::cleanPath(m_places.folder());
}

QString Library::key(const QString& url) const {
    const QString base = folder();
    QString key = url;
    return base.isEmpty() ? key : key.remove(base + QLatin1Char('/'));
}

QString Library::thumbURL(const QString& url) const {
    return QDir(m_thumbs).filePath(key(url).replace(QLatin1Char('/'), QLatin1Char('_')) +
                                   QStringLiteral(".jpg"));
}

void Library::load() {
    QFile file(m_indexPath);
    if (!file.exists())
        return;
    if (!file.open(QIODevice::ReadOnly)) {
        // Nothing to salvage from here; set aside whole before anything replaces it.
        std::lock_guard lock(m_mutex);
        m_renameFirst = freeBackupName(m_indexPath);
        keepDamaged({}, 0, true);
        return;
    }
    const QByteArray bytes = file.readAll();
    IndexRead read = decodeIndex(bytes);
    std::lock_guard lock(m_mutex);
    m_index = std::move(read.entries);
    if (read.damaged())
        keepDamaged(bytes, read.unreadEntries, read.unreadRest);
}

// Called with m_mutex held, at start only.
void Library::keepDamaged(const QByteArray& bytes, int unreadEntries, bool unreadRest) {
    QString keptAs = m_renameFirst;
    if (keptAs.isEmpty()) {
        keptAs = freeBackupName(m_indexPath);
        if (writeWhole(keptAs, bytes))
            m_writeWanted = true; // the sound index in its place: the damage is told once
        else
            keptAs.clear();
    }
    const QString title = QStringLiteral("Some clip details couldn't be read");
    const QString detail = damageText(unreadEntries, unreadRest, keptAs);
    QMetaObject::invokeMethod(
        this, [this, title, detail] { emit problem(title, detail); }, Qt::QueuedConnection);
}

void Library::reload() {
    std::lock_guard lock(m_mutex);
    m_walkWanted = true;
    askLocked();
}

void Library::add(const QString& url, const ClipMeta& meta) {
    std::lock_guard lock(m_mutex);
    m_index.insert(key(url), meta);
    m_writeWanted = m_walkWanted = true;
    askLocked();
}

void Library::update(const QString& url, const std::function<void(ClipMeta&)>& change) {
    std::lock_guard lock(m_mutex);
    const QString clipKey = key(url);
    std::optional<ClipMeta> meta;
    if (auto found = m_index.constFind(clipKey); found != m_index.cend())
        meta = *found;
    else if (auto listed = std::find_if(m_lastScan.cbegin(), m_lastScan.cend(),
                                        [&](const Clip& clip) { return clip.url == url; });
             listed != m_lastScan.cend())
        meta = listed->meta;
    if (!meta)
        return;
    change(*meta);
    m_index.insert(clipKey, *meta);
    // The files are as they were: the last walk merged with the new entry is the new list.
    m_writeWanted = m_mergeWanted = true;
    askLocked();
}

void Library::deleteClip(const Clip& clip) {
    const QFileInfo file(clip.url);
    if ((file.exists() || file.isSymLink()) && !moveToTrash(clip.url))
        throw std::runtime_error(
            QStringLiteral(
                "“%1” couldn't be moved to the Trash, so it stays in your library. Check that "
                "its folder can be changed, or remove it in the file manager.")
                .arg(file.fileName())
                .toStdString());
    QFile::remove(thumbURL(clip.url));
    std::lock_guard lock(m_mutex);
    m_index.remove(key(clip.url));
    m_writeWanted = m_walkWanted = true;
    askLocked();
}

QCoro::Task<> Library::settled() {
    auto promise = std::make_shared<QPromise<void>>();
    QFuture<void> done = promise->future();
    promise->start();
    {
        std::lock_guard lock(m_mutex);
        m_waiters.push_back(std::move(promise));
        askLocked();
    }
    co_await done;
}

void Library::askLocked() {
    if (m_working)
        return;
    m_working = true;
    m_thread.start([this] { work(); });
}

bool Library::takeRound(Round& round) {
    // Asked before the lock: the folder comes from the caller's places, which may take their
    // time (or wait on a thread that is itself waiting for this lock).
    const QString currentFolder = folder();
    std::lock_guard lock(m_mutex);
    const bool stopping = m_stopping;
    round.write = std::exchange(m_writeWanted, false);
    round.walk = std::exchange(m_walkWanted, false) && !stopping;
    round.merge = (std::exchange(m_mergeWanted, false) || round.walk) && !stopping;
    round.waiters = std::exchange(m_waiters, {});
    if (!round.write && !round.walk && !round.merge && round.waiters.empty()) {
        m_working = false;
        return false;
    }
    round.index = m_index; // shared, not copied, until the next change
    round.folder = currentFolder;
    if (round.write && !m_renameFirst.isEmpty()) {
        std::error_code ignored;
        std::filesystem::rename(m_indexPath.toStdString(), m_renameFirst.toStdString(), ignored);
        m_renameFirst.clear();
    }
    return true;
}

void Library::work() {
    Round round;
    while (takeRound(round)) {
        if (round.write)
            writeIndex(round.index);
        if (round.walk)
            m_found = walk(round.folder);
        std::vector<qsizetype> unread;
        QList<Clip> list;
        if (round.merge) {
            list = merge(round.index, unread);
            {
                std::lock_guard lock(m_mutex);
                m_lastScan = list;
            }
            publish(list);
        }
        if (!round.waiters.empty())
            QMetaObject::invokeMethod(
                this,
                [waiters = std::move(round.waiters)] {
                    for (const auto& waiter : waiters)
                        waiter->finish();
                },
                Qt::QueuedConnection);
        round = Round{};
        if (!unread.empty() && !m_stopping)
            readFacts(list, unread);
    }
}

void Library::writeIndex(const QHash<QString, ClipMeta>& index) {
    QDir().mkpath(m_places.appSupport);
    writeWhole(m_indexPath, encodeIndex(index));
}

QList<Library::Found> Library::walk(const QString& folder) const {
    QList<Found> found;
    // An empty path would make the walk list the working directory.
    if (folder.isEmpty())
        return found;
    const QString prefix = folder + QLatin1Char('/');
    QDirIterator it(folder, QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext() && !m_stopping) {
        it.next();
        const QFileInfo info = it.fileInfo();
        if (!isClipFile(info))
            continue;
        const QString path = info.filePath();
        found.append(Found{path, QString(path).remove(prefix), defaultMeta(folder, info),
                           FileStamp{info.size(), info.lastModified().toMSecsSinceEpoch()}});
    }
    return found;
}

ClipMeta Library::defaultMeta(const QString& folder, const QFileInfo& info) const {
    ClipMeta meta;
    meta.title = info.completeBaseName();
    meta.game = info.path() == folder ? QStringLiteral("Clips") : info.dir().dirName();
    meta.created = creationDate(info);
    return meta;
}

// The last walk's files with their entries, newest first; `unread` gets the rows whose facts
// are still to be read.
QList<Clip> Library::merge(const QHash<QString, ClipMeta>& index,
                           std::vector<qsizetype>& unread) const {
    QList<Clip> list;
    list.reserve(m_found.size());
    for (const Found& file : m_found) {
        auto entry = index.constFind(file.key);
        Clip clip{file.path, entry != index.cend() ? *entry : file.defaults};
        if (entry == index.cend() || lacksFacts(*entry)) {
            auto known = m_unplayable.constFind(file.path);
            clip.playback = known != m_unplayable.cend() && *known == file.stamp
                                ? Playback::unplayable
                                : Playback::checking;
        }
        list.append(std::move(clip));
    }
    std::stable_sort(list.begin(), list.end(),
                     [](const Clip& a, const Clip& b) { return a.meta.created > b.meta.created; });
    for (qsizetype row = 0; row < list.size(); ++row)
        if (list[row].playback == Playback::checking)
            unread.push_back(row);
    return list;
}

// Reads the facts of the listed files without them, newest first, until the time slice ends
// or other work is asked for; what was read is stored and a new list asked for.
void Library::readFacts(const QList<Clip>& list, const std::vector<qsizetype>& unread) {
    QHash<QString, FileStamp> stamps;
    for (const Found& file : m_found)
        stamps.insert(file.path, file.stamp);
    QElapsedTimer slice;
    slice.start();
    QList<std::pair<QString, ClipMeta>> read;
    for (qsizetype row : unread) {
        const Clip& clip = list[row];
        if (std::optional<ClipMeta> meta = withFacts(clip.meta, clip.url))
            read.append({clip.url, *meta});
        else
            m_unplayable.insert(clip.url, stamps.value(clip.url));
        if (m_stopping || slice.elapsed() > kFactsSliceMs)
            break;
        std::lock_guard lock(m_mutex);
        if (m_writeWanted || m_walkWanted || m_mergeWanted || !m_waiters.empty())
            break;
    }
    std::lock_guard lock(m_mutex);
    for (const auto& [url, meta] : read) {
        const QString clipKey = key(url);
        auto entry = m_index.find(clipKey);
        if (entry == m_index.end()) {
            m_index.insert(clipKey, meta);
        } else if (lacksFacts(*entry)) {
            entry->duration = meta.duration;
            entry->width = meta.width;
            entry->height = meta.height;
            entry->hasMic = meta.hasMic;
        }
    }
    m_writeWanted = m_writeWanted || !read.isEmpty();
    m_mergeWanted = true;
}

void Library::publish(const QList<Clip>& list) {
    QMetaObject::invokeMethod(
        this,
        [this, list] {
            m_clips = list;
            emit clipsChanged(m_clips);
        },
        Qt::QueuedConnection);
}

} // namespace vantel
