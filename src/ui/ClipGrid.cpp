#include "ui/ClipGrid.h"

#include "ui/ClipCardDelegate.h"
#include "ui/ClipListModel.h"

#include <QResizeEvent>
#include <QScrollBar>
#include <QStyle>

namespace vantel {

ClipGrid::ClipGrid(QWidget* parent)
    : QListView(parent)
    , m_cards(new ClipCardDelegate(this)) {
    setObjectName(QStringLiteral("clipGrid"));
    setItemDelegate(m_cards);
    setViewMode(QListView::IconMode);
    setFlow(QListView::LeftToRight);
    setWrapping(true);
    setResizeMode(QListView::Adjust);
    setMovement(QListView::Static);
    setUniformItemSizes(true);
    setLayoutMode(QListView::SinglePass);
    setSelectionMode(QAbstractItemView::NoSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setMouseTracking(true);
    setFrameShape(QFrame::NoFrame);
    setSpacing(0);
    setFocusPolicy(Qt::NoFocus);
    setCursor(Qt::PointingHandCursor);
    setContextMenuPolicy(Qt::CustomContextMenu);
    verticalScrollBar()->setSingleStep(24);
    // Cells carry the gap to their right and below, so the right and bottom margins are what
    // the gaps leave of them.
    setStyleSheet(QStringLiteral("QListView#clipGrid { background: transparent; "
                                 "padding: %1px %2px %3px %1px; }")
                      .arg(kMargin)
                      .arg(kMargin - ClipCardDelegate::kColumnGap)
                      .arg(kMargin - ClipCardDelegate::kRowGap));
    connect(this, &QListView::clicked, this, [this](const QModelIndex& index) {
        emit clipClicked(index.data(ClipListModel::ClipRole).value<Clip>());
    });
    connect(this, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        const QModelIndex index = indexAt(at);
        if (index.isValid())
            emit menuRequested(index.data(ClipListModel::ClipRole).value<Clip>(),
                               viewport()->mapToGlobal(at));
    });
    fitColumns();
}

std::pair<int, int> ClipGrid::columnsFor(int width) {
    // `width` is the viewport inside the margins, less the last column's gap: every cell is a
    // card and the gap after it.
    const int gap = ClipCardDelegate::kColumnGap;
    // The view wraps a row a little before the last pixel: leave it room.
    const int room = std::max(kMinCard + gap, width - 4);
    const int columns = std::max(1, room / (kMinCard + gap));
    const int card = std::min(kMaxCard, room / columns - gap);
    return {columns, card};
}

void ClipGrid::resizeEvent(QResizeEvent* event) {
    QListView::resizeEvent(event);
    fitColumns();
}

void ClipGrid::fitColumns() {
    // The width the view lays its items out in: it keeps room for the scroll bar whether or not
    // the bar shows, so the columns must fit that room, not the current viewport.
    const int bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, verticalScrollBar());
    const int width = maximumViewportSize().width() - bar;
    if (width == m_fittedWidth)
        return;
    m_fittedWidth = width;
    const int card = columnsFor(width).second;
    if (card == m_cards->cardSize().width() && gridSize() == m_cards->cellSize())
        return;
    m_cards->setCardWidth(card);
    setGridSize(m_cards->cellSize());
    emit cardsResized();
}

} // namespace vantel
