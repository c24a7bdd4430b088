#include "Library.h"

#include "media/PartialFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSaveFile>
#include <QThread>
#include <algorithm>
#include <filesystem>

namespace vantel {

namespace {

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

std::optional<QHash<QString, ClipMeta>> decodeIndex(const QByteArray& bytes) {
    QJsonParseError error;
    QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    QHash<QString, ClipMeta> index;
    const QJsonObject object = document.object();
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (!it.value().isObject())
            return std::nullopt;
        auto meta = ClipMeta::fromJson(it.value().toObject());
        if (!meta)
            return std::nullopt;
        index.insert(it.key(), *meta);
    }
    return index;
}

QByteArray encodeIndex(const QHash<QString, ClipMeta>& index) {
    QByteArray out;
    out.reserve(index.size() * 200 + 2);
    out.append('{');
    bool first = true;
    for (auto it = index.begin(); it != index.end(); ++it) {
        if (!first)
            out.append(',');
        first = false;
        appendJsonString(out, it.key());
        out.append(':');
        it.value().appendJson(out);
    }
    out.append('}');
    return out;
}

} // namespace

Library::Library(Places places, QObject* parent)
    : QObject(parent)
    , m_places(std::move(places))
    , m_indexPath(QDir(m_places.appSupport).filePath(QStringLiteral("library.json")))
    , m_thumbs(QDir(m_places.appSupport).filePath(QStringLiteral("thumbs"))) {
    // Publication is a queued call on this object, so it must belong to the main thread even
    // when a background task is the first to ask for the library.
    if (auto* app = QCoreApplication::instance(); app && thread() != app->thread() && !parent)
        moveToThread(app->thread());
    QDir().mkpath(m_thumbs);
    // Clips a killed process was writing; this process has written none yet.
    if (const QString clips = folder(); !clips.isEmpty())
        media::removeAbandonedPartials(clips.toStdString());
    load();
    reload();
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
    std::optional<QHash<QString, ClipMeta>> index;
    if (file.open(QIODevice::ReadOnly))
        index = decodeIndex(file.readAll());
    std::lock_guard lock(m_mutex);
    if (index)
        m_index = std::move(*index);
    else
        m_indexBad = true;
}

void Library::reload() {
    std::lock_guard lock(m_mutex);
    reloadLocked();
}

void Library::reloadLocked() {
    m_lastScan = scan(folder());
    publish(m_lastScan);
}

QList<Clip> Library::scan(const QString& folder) const {
    QList<Clip> list;
    // An empty path would make the walk list the working directory.
    if (folder.isEmpty())
        return list;
    const QString prefix = folder + QLatin1Char('/');
    QDirIterator it(folder, QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        QFileInfo info = it.fileInfo();
        if (!isClipFile(info))
            continue;
        QString path = info.filePath();
        QString key = QString(path).remove(prefix);
        auto found = m_index.constFind(key);
        list.append(Clip{path, found != m_index.cend() ? *found : defaultMeta(folder, info)});
    }
    std::stable_sort(list.begin(), list.end(),
                     [](const Clip& a, const Clip& b) { return a.meta.created > b.meta.created; });
    return list;
}

ClipMeta Library::defaultMeta(const QString& folder, const QFileInfo& info) const {
    ClipMeta meta;
    meta.title = info.completeBaseName();
    meta.game = info.path() == folder ? QStringLiteral("Clips") : info.dir().dirName();
    meta.created = creationDate(info);
    return meta;
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

void Library::add(const QString& url, const ClipMeta& meta) {
    std::lock_guard lock(m_mutex);
    m_index.insert(key(url), meta);
    writeIndexLocked();
    reloadLocked();
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
    writeIndexLocked();
    reloadLocked();
}

void Library::deleteClip(const Clip& clip) {
    std::lock_guard lock(m_mutex);
    QFile::moveToTrash(clip.url);
    m_index.remove(key(clip.url));
    QFile::remove(thumbURL(clip.url));
    writeIndexLocked();
    reloadLocked();
}

void Library::writeIndexLocked() {
    if (m_indexBad) {
        std::error_code ignored;
        std::filesystem::rename(m_indexPath.toStdString(), (m_indexPath + ".bad").toStdString(),
                                ignored);
        m_indexBad = false;
    }
    QDir().mkpath(m_places.appSupport);
    // Unbuffered, so a short write (a full disk) is seen here and the old file stays in place;
    // a buffered one could be committed cut short.
    const QByteArray bytes = encodeIndex(m_index);
    QSaveFile file(m_indexPath);
    if (file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) &&
        file.write(bytes) == bytes.size())
        file.commit();
}

} // namespace vantel
