#pragma once

// Paints one clip card of the grid: the 16:9 picture with rounded corners (a dark placeholder
// until the picture is loaded) and the length badge, the title with a link symbol for a shared
// clip, and the game with the relative date. The border lightens under the pointer. A file that
// cannot be played shows "Can't be played" under a struck-through play symbol instead of a
// picture, and no length; one whose length is still being read shows no length yet.
//
// Each card occupies a grid cell of cardSize() plus the gaps between columns and rows; the card
// is drawn at the cell's top left. Pictures come finished from the model (ThumbnailCache): the
// card copies them, scaling only one made for an earlier card size.
//
// Thread: main thread.

#include <QStyledItemDelegate>

namespace vantel {

class ClipCardDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    static constexpr int kColumnGap = 16;
    static constexpr int kRowGap = 18;
    static constexpr qreal kPictureRadius = 9;

    explicit ClipCardDelegate(QObject* parent = nullptr);

    void setCardWidth(int width);
    QSize cardSize() const;
    QSize cellSize() const { return cardSize() + QSize(kColumnGap, kRowGap); }
    // The 16:9 picture area of a card.
    QSize pictureSize() const;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

    // What a card and the detail view say of a file that cannot be played.
    static QString cantPlayText();

private:
    QRect pictureRect(const QRect& card) const;
    void paintPicture(QPainter* painter, const QRect& area, const QModelIndex& index) const;
    void paintUnplayable(QPainter* painter, const QRect& area) const;
    void paintBadge(QPainter* painter, const QRect& area, double seconds) const;
    void paintText(QPainter* painter, const QRect& card, const QModelIndex& index) const;

    int m_width = 280;
};

} // namespace vantel
