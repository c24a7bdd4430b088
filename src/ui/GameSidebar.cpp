#include "ui/GameSidebar.h"

#include "ui/StatusFooter.h"
#include "ui/Theme.h"

#include <QHash>
#include <QLabel>
#include <QListView>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QVBoxLayout>
#include <algorithm>

namespace vantel {

namespace {

constexpr int kRowHeight = 30;

class GameRowDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const override {
        return {option.rect.width(), kRowHeight + 2};
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        const QRect row = option.rect.adjusted(0, 1, 0, -1);
        const bool hover = option.state & QStyle::State_MouseOver;
        if (index.data(GameListModel::HighlightRole).toBool())
            painter->setBrush(QColor(255, 255, 255, 26));
        else if (hover)
            painter->setBrush(QColor(255, 255, 255, 10));
        else
            painter->setBrush(Qt::NoBrush);
        painter->setPen(Qt::NoPen);
        painter->drawRoundedRect(row, 7, 7);
        const QRect text = row.adjusted(10, 0, -10, 0);
        const QString count = QString::number(index.data(GameListModel::CountRole).toInt());
        const QFont countFont = Theme::font(12);
        const int countWidth = QFontMetrics(countFont).horizontalAdvance(count);
        painter->setFont(countFont);
        painter->setPen(Theme::muted());
        painter->drawText(text, Qt::AlignRight | Qt::AlignVCenter, count);
        const QFont nameFont = Theme::font(13);
        painter->setFont(nameFont);
        painter->setPen(Theme::ink());
        const QString name = QFontMetrics(nameFont).elidedText(
            index.data(Qt::DisplayRole).toString(), Qt::ElideRight, text.width() - countWidth - 8);
        painter->drawText(text, Qt::AlignLeft | Qt::AlignVCenter, name);
        painter->restore();
    }
};

} // namespace

GameListModel::Counts GameListModel::count(const QList<Clip>& clips) {
    QHash<QString, int> perGame;
    for (const Clip& clip : clips)
        ++perGame[clip.meta.game];
    Counts counts;
    counts.games = perGame.keys();
    // Plain code-point order, the same in every locale.
    std::sort(counts.games.begin(), counts.games.end(),
              [](const QString& a, const QString& b) { return a.toUcs4() < b.toUcs4(); });
    for (const QString& game : counts.games)
        counts.counts.append(perGame.value(game));
    counts.total = int(clips.size());
    return counts;
}

void GameListModel::setCounts(const Counts& counts) {
    beginResetModel();
    m_games = counts.games;
    m_counts = counts.counts;
    m_total = counts.total;
    endResetModel();
}

void GameListModel::setGame(const std::optional<QString>& game) {
    m_game = game;
    if (rowCount() > 0)
        emit dataChanged(index(0), index(rowCount() - 1), {HighlightRole});
}

int GameListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_games.size()) + 1;
}

QVariant GameListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid())
        return {};
    const int row = index.row();
    const bool all = row == 0;
    switch (role) {
    case Qt::DisplayRole:
        return all ? QStringLiteral("All clips") : m_games[row - 1];
    case CountRole:
        return all ? m_total : m_counts[row - 1];
    case GameRole:
        return all ? QVariant() : QVariant(m_games[row - 1]);
    case HighlightRole:
        return all ? !m_game.has_value() : (m_game && *m_game == m_games[row - 1]);
    default:
        return {};
    }
}

GameSidebar::GameSidebar(QWidget* parent)
    : QWidget(parent)
    , m_rows(new GameListModel(this))
    , m_list(new QListView)
    , m_footer(new StatusFooter) {
    setObjectName(QStringLiteral("gameSidebar"));
    setFixedWidth(kWidth);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 16, 12, 16);
    layout->setSpacing(8);
    auto* heading = new QLabel(QStringLiteral("Clips"));
    heading->setFont(Theme::font(11, QFont::DemiBold));
    heading->setProperty("muted", true);
    heading->setContentsMargins(10, 0, 0, 0);
    layout->addWidget(heading);
    m_list->setObjectName(QStringLiteral("gameList"));
    m_list->setModel(m_rows);
    m_list->setItemDelegate(new GameRowDelegate(m_list));
    m_list->setFrameShape(QFrame::NoFrame);
    m_list->setSelectionMode(QAbstractItemView::NoSelection);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setMouseTracking(true);
    m_list->setFocusPolicy(Qt::NoFocus);
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_list->setCursor(Qt::PointingHandCursor);
    m_list->setStyleSheet(QStringLiteral("QListView { background: transparent; }"));
    layout->addWidget(m_list, 1);
    layout->addWidget(m_footer);
    connect(m_list, &QListView::clicked, this, [this](const QModelIndex& index) {
        const QVariant game = index.data(GameListModel::GameRole);
        emit gameChosen(game.isValid() ? std::optional<QString>(game.toString()) : std::nullopt);
    });
}

} // namespace vantel
