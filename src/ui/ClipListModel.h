#pragma once

// The library's clip list as an item model for the grid, newest first, with the card picture
// of each clip from a ThumbnailCache.
//
// setClips() turns a newly published list into the smallest change it can see (rows that kept
// their place are updated, a run of new or removed rows is inserted or removed), so the grid
// keeps its scroll position when a clip is saved, renamed or deleted. A run of more than
// kRowsPerTurn new rows (another folder) arrives over several turns of the event loop, so that
// the window keeps answering; clips() is then the part shown so far.
//
// Thread: main thread.

#include "library/Clip.h"

#include <QAbstractListModel>
#include <QHash>
#include <QList>
#include <QTimer>

namespace vantel {

class ThumbnailCache;

class ClipListModel : public QAbstractListModel {
    Q_OBJECT
public:
    enum Role {
        ClipRole = Qt::UserRole + 1, // the Clip
        GameRole,                    // meta.game
        PictureRole,                 // the card picture (QImage), null until loaded
    };

    // `thumbs` may be null (no pictures); it is not owned.
    explicit ClipListModel(ThumbnailCache* thumbs, QObject* parent = nullptr);

    static constexpr qsizetype kRowsPerTurn = 20'000;

    void setClips(const QList<Clip>& clips);
    const QList<Clip>& clips() const { return m_clips; }
    // The row of the clip at `url`, or -1.
    int rowOf(const QString& url) const { return m_rows.value(url, -1); }

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

private:
    void catchUp();
    void replaceMiddle(const QList<Clip>& clips, qsizetype head, qsizetype tail);
    void reindexFrom(qsizetype first);
    void pictureReady(const QString& url);

    ThumbnailCache* m_thumbs;
    QList<Clip> m_target; // the list being caught up with, part by part
    QTimer m_catchingUp;
    QList<Clip> m_clips;
    QHash<QString, int> m_rows;
};

// Everything in the full metadata that a card shows; Clip's own equality looks at less.
bool sameCard(const Clip& a, const Clip& b);

} // namespace vantel
