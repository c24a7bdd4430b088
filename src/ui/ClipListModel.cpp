#include "ui/ClipListModel.h"

#include "ui/ThumbnailCache.h"

namespace vantel {

bool sameCard(const Clip& a, const Clip& b) {
    return a.url == b.url && a.meta == b.meta && a.playback == b.playback;
}

ClipListModel::ClipListModel(ThumbnailCache* thumbs, QObject* parent)
    : QAbstractListModel(parent)
    , m_thumbs(thumbs) {
    if (m_thumbs)
        connect(m_thumbs, &ThumbnailCache::ready, this, &ClipListModel::pictureReady);
}

int ClipListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_clips.size());
}

QVariant ClipListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= m_clips.size())
        return {};
    const Clip& clip = m_clips[index.row()];
    switch (role) {
    case Qt::DisplayRole:
        return clip.meta.title;
    case ClipRole:
        return QVariant::fromValue(clip);
    case GameRole:
        return clip.meta.game;
    case PictureRole:
        // No frame comes out of a file that cannot be opened: nothing to ask for.
        return m_thumbs && clip.playback != Playback::unplayable ? m_thumbs->picture(clip)
                                                                 : QImage();
    default:
        return {};
    }
}

void ClipListModel::setClips(const QList<Clip>& clips) {
    // Rows equal at both ends stay; only the run between them is replaced.
    const qsizetype common = std::min(m_clips.size(), clips.size());
    qsizetype head = 0;
    while (head < common && m_clips[head].url == clips[head].url)
        ++head;
    qsizetype tail = 0;
    while (tail < common - head &&
           m_clips[m_clips.size() - 1 - tail].url == clips[clips.size() - 1 - tail].url)
        ++tail;
    replaceMiddle(clips, head, tail);
    for (qsizetype row = 0; row < m_clips.size(); ++row) {
        if (sameCard(m_clips[row], clips[row]))
            continue;
        if (m_thumbs && (m_clips[row].meta.duration != clips[row].meta.duration ||
                         m_clips[row].playback != clips[row].playback))
            m_thumbs->forget(clips[row].url);
        m_clips[row] = clips[row];
        emit dataChanged(index(int(row)), index(int(row)));
    }
}

void ClipListModel::replaceMiddle(const QList<Clip>& clips, qsizetype head, qsizetype tail) {
    const qsizetype oldMiddle = m_clips.size() - head - tail;
    const qsizetype newMiddle = clips.size() - head - tail;
    if (oldMiddle > 0) {
        beginRemoveRows({}, int(head), int(head + oldMiddle - 1));
        for (qsizetype i = 0; i < oldMiddle; ++i) {
            if (m_thumbs)
                m_thumbs->forget(m_clips[head].url);
            m_clips.removeAt(head);
        }
        reindex();
        endRemoveRows();
    }
    if (newMiddle > 0) {
        beginInsertRows({}, int(head), int(head + newMiddle - 1));
        for (qsizetype i = 0; i < newMiddle; ++i)
            m_clips.insert(head + i, clips[head + i]);
        reindex();
        endInsertRows();
    }
}

void ClipListModel::reindex() {
    m_rows.clear();
    m_rows.reserve(m_clips.size());
    for (qsizetype row = 0; row < m_clips.size(); ++row)
        m_rows.insert(m_clips[row].url, int(row));
}

void ClipListModel::pictureReady(const QString& url) {
    const int row = rowOf(url);
    if (row >= 0)
        emit dataChanged(index(row), index(row), {PictureRole});
}

} // namespace vantel
