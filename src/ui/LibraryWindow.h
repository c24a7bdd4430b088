#pragma once

// The clip library window ("Clips"): the sidebar with the games and the status footer, a line,
// and the main area showing the grid of clip cards, the empty state, or the detail view of the
// selected clip.
//
// It shows the library's published list and follows every new publication: counts, cards and
// the open detail update in place. The detail view shows the current version of the selected
// clip (looked up by path in the newest list); when that clip is gone the grid shows instead,
// while the selection itself is kept, as is a filter whose game no longer has clips.
//
// Every time the window is shown it asks the library to rescan, off the window's thread.
//
// Thread: main thread.

#include "library/Clip.h"
#include "ui/ClipDetail.h"

#include <QWidget>
#include <functional>
#include <optional>

class QLabel;
class QStackedWidget;

namespace vantel {

class ClipGrid;
class ClipListModel;
class GameFilterModel;
class GameSidebar;
class Library;
class Settings;
class ShareService;
class StatusFooter;
class ThumbnailCache;

class LibraryWindow : public QWidget {
    Q_OBJECT
public:
    // What the window works with; each must outlive the window.
    struct Services {
        Settings& settings; // the shortcut and buffer length of the empty state's hint
        Library& library;
        ShareService* sharing = nullptr; // may be null: sharing is then unavailable
        ClipDetail::Services::Toast toast;
        std::function<void(const QString& path)> reveal; // none: the desktop's file manager
    };

    static constexpr const char* kId = "library";

    explicit LibraryWindow(Services services, QWidget* parent = nullptr);
    ~LibraryWindow() override;

    std::optional<QString> game() const { return m_game; }
    std::optional<Clip> selected() const { return m_selected; }
    // The clips of the grid under the current filter, in order.
    QList<Clip> shown() const;

    // What the sidebar rows, the cards and the back button do.
    void chooseGame(const std::optional<QString>& game);
    void select(const Clip& clip);
    void back();

    GameSidebar* sidebar() const { return m_sidebar; }
    StatusFooter* footer() const;
    ClipGrid* grid() const { return m_grid; }
    ThumbnailCache* thumbnails() const { return m_thumbs; }
    // The open detail view, or null while the grid or the empty state shows.
    ClipDetail* detail() const { return m_detail; }
    // What the main area shows: "grid", "empty" or "detail".
    QString showing() const;
    QString emptyText() const;

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QWidget* makeEmptyPage();
    void published(const QList<Clip>& clips);
    void countGames(const QList<Clip>& clips);
    void shapePictures();
    void refreshMain();
    void showEmptyHint();
    void openDetail(const Clip& clip);
    void closeDetail();
    void showMenu(const Clip& clip, const QPoint& at);
    void setFullScreen(bool on);

    Services m_services;
    std::optional<QString> m_game;
    std::optional<Clip> m_selected;
    bool m_wasMaximized = false;
    // Lists longer than this have their games counted off the window's thread.
    static constexpr qsizetype kCountOnThisThread = 20'000;
    int m_countsAsked = 0;

    ThumbnailCache* m_thumbs;
    ClipListModel* m_model;
    GameFilterModel* m_filter;
    GameSidebar* m_sidebar;
    QWidget* m_divider;
    QStackedWidget* m_main;
    ClipGrid* m_grid;
    QWidget* m_emptyPage;
    QLabel* m_emptyHint = nullptr;
    QWidget* m_detailPage;
    ClipDetail* m_detail = nullptr;
};

} // namespace vantel
