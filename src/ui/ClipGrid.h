#pragma once

// The scrolling grid of clip cards: adaptive columns 230 to 340 wide with 16 between columns
// and 18 between rows, a 20 margin all round. One delegate paints every card, so thousands of
// clips cost a row of model data each, and pictures are only asked for by painted cards.
//
// A click on a card reports it (clipClicked); a right click asks for the card's menu
// (menuRequested, with the global position). The grid keeps no selection of its own.
//
// Thread: main thread.

#include "library/Clip.h"

#include <QListView>

namespace vantel {

class ClipCardDelegate;

class ClipGrid : public QListView {
    Q_OBJECT
public:
    static constexpr int kMargin = 20;
    static constexpr int kMinCard = 230;
    static constexpr int kMaxCard = 340;

    explicit ClipGrid(QWidget* parent = nullptr);

    ClipCardDelegate* cards() const { return m_cards; }
    // Columns and card width for a viewport `width` wide.
    static std::pair<int, int> columnsFor(int width);

signals:
    void clipClicked(const vantel::Clip& clip);
    void menuRequested(const vantel::Clip& clip, const QPoint& globalPos);
    // The cards got another width (the view was resized).
    void cardsResized();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void fitColumns();

    ClipCardDelegate* m_cards;
    int m_fittedWidth = -1;
};

} // namespace vantel
