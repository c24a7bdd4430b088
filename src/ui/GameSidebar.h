#pragma once

// The library's sidebar: the heading "Clips", the row "All clips" and one row per game with its
// number of clips (games in plain code-point order), and the status footer at the bottom. The
// row of the chosen filter is highlighted; a game that no longer has clips has no row, and then
// no row is highlighted.
//
// Thread: main thread.

#include "library/Clip.h"

#include <QAbstractListModel>
#include <QWidget>
#include <optional>

class QLabel;
class QListView;

namespace vantel {

class StatusFooter;

// Rows of the sidebar: "All clips" first, then the games.
class GameListModel : public QAbstractListModel {
    Q_OBJECT
public:
    enum Role { CountRole = Qt::UserRole + 1, GameRole, HighlightRole };

    using QAbstractListModel::QAbstractListModel;

    // The games of a list and how many clips each has; any thread.
    struct Counts {
        QStringList games; // sorted
        QList<int> counts;
        int total = 0;
    };
    static Counts count(const QList<Clip>& clips);

    void setClips(const QList<Clip>& clips) { setCounts(count(clips)); }
    void setCounts(const Counts& counts);
    void setGame(const std::optional<QString>& game);
    // The distinct games, sorted.
    const QStringList& games() const { return m_games; }

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

private:
    QStringList m_games;
    QList<int> m_counts;
    int m_total = 0;
    std::optional<QString> m_game;
};

class GameSidebar : public QWidget {
    Q_OBJECT
public:
    static constexpr int kWidth = 210;

    explicit GameSidebar(QWidget* parent = nullptr);

    GameListModel* rows() const { return m_rows; }
    StatusFooter* footer() const { return m_footer; }
    QListView* list() const { return m_list; }

signals:
    // Absent: "All clips".
    void gameChosen(const std::optional<QString>& game);

private:
    GameListModel* m_rows;
    QListView* m_list;
    StatusFooter* m_footer;
};

} // namespace vantel
