#include "ui/ClipListModel.h"

#include "ui/ThumbnailCache.h"

namespace vantel {

namespace {

// The library builds each list from the same strings, so most compare by their data alone:
// with a folder of many thousand clips this is most of the window's work per new list.
bool sameText(const QString& a, const QString& b) {
    return (a.constData() == b.constData() && a.size() == b.size()) || a == b;
}

} // namespace

bool sameCard(const Clip& a, const Clip& b) {
    const ClipMeta& x = a.meta;
    const ClipMeta& y = b.meta;
    return sameText(a.url, b.url) && a.playback == b.playback && sameText(x.title, y.title) &&
           sameText(x.game, y.game) && x.created == y.created && x.duration == y.duration &&
           x.width == y.width && x.height == y.height && x.hasMic == y.hasMic &&
           x.shareID == y.shareID && x.shareURL == y.shareURL;
}

ClipListModel::ClipListModel(ThumbnailCache* thumbs, QObject* parent)
    : QAbstractListModel(parent)
    , m_thumbs(thumbs) {
    m_catchingUp.setSingleShot(true);
    m_catchingUp.setInterval(0);
    connect(&m_catchingUp, &QTimer::timeout, this, &ClipListModel::catchUp);
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
    m_target = clips;
    m_rows.reserve(clips.size()); // once, not as each part arrives
    m_catchingUp.stop();
    catchUp();
}

void ClipListModel::catchUp() {
    const QList<Clip> clips = std::exchange(m_target, {});
    // Rows equal at both ends stay; only the run between them is replaced.
    const qsizetype common = std::min(m_clips.size(), clips.size());
    qsizetype head = 0;
    while (head < common && sameText(m_clips[head].url, clips[head].url))
        ++head;
    qsizetype tail = 0;
    while (tail < common - head &&
           sameText(m_clips[m_clips.size() - 1 - tail].url, clips[clips.size() - 1 - tail].url))
        ++tail;
    if (clips.size() - head - tail > kRowsPerTurn) {
        // A new folder of many thousand clips: a part per turn of the event loop, so the window
        // never stops for all of them at once.
        replaceMiddle(clips.mid(0, head + kRowsPerTurn) + clips.mid(clips.size() - tail), head,
                      tail);
        m_target = clips;
        m_catchingUp.start();
        return;
    }
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
        for (qsizetype i = head; i < head + oldMiddle; ++i) {
            if (m_thumbs)
                m_thumbs->forget(m_clips[i].url);
            m_rows.remove(m_clips[i].url);
        }
        m_clips.remove(head, oldMiddle);
        reindexFrom(head);
        endRemoveRows();
    }
    if (newMiddle > 0) {
        beginInsertRows({}, int(head), int(head + newMiddle - 1));
        m_clips.insert(head, newMiddle, Clip{});
        std::copy(clips.begin() + head, clips.begin() + head + newMiddle, m_clips.begin() + head);
        reindexFrom(head);
        endInsertRows();
    }
}

void ClipListModel::reindexFrom(qsizetype first) {
    for (qsizetype row = first; row < m_clips.size(); ++row)
        m_rows.insert(m_clips[row].url, int(row));
}

void ClipListModel::pictureReady(const QString& url) {
    const int row = rowOf(url);
    if (row >= 0)
        emit dataChanged(index(row), index(row), {PictureRole});
}

} // namespace vantel
