#include "ui/LibraryWindow.h"

#include "library/InBackground.h"
#include "library/Library.h"
#include "settings/Settings.h"
#include "ui/ClipCardDelegate.h"
#include "ui/ClipGrid.h"
#include "ui/ClipListModel.h"
#include "ui/GameSidebar.h"
#include "ui/ShareService.h"
#include "ui/ShowInFolder.h"
#include "ui/StatusFooter.h"
#include "ui/Theme.h"
#include "ui/ThumbnailCache.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QScrollBar>
#include <QSortFilterProxyModel>
#include <QStackedWidget>
#include <QThreadPool>
#include <QTimer>
#include <QVBoxLayout>

namespace vantel {

// The grid's rows under the sidebar filter.
class GameFilterModel : public QSortFilterProxyModel {
public:
    using QSortFilterProxyModel::QSortFilterProxyModel;

    void setGame(const std::optional<QString>& game) {
        m_game = game;
        invalidateRowsFilter();
    }

protected:
    bool filterAcceptsRow(int row, const QModelIndex& parent) const override {
        if (!m_game)
            return true;
        const QModelIndex index = sourceModel()->index(row, 0, parent);
        return index.data(ClipListModel::GameRole).toString() == *m_game;
    }

private:
    std::optional<QString> m_game;
};

namespace {

// How long the grid must rest after scrolling before card pictures are made again.
constexpr int kScrollRestMs = 120;

// Off the window's thread; a refusal is told, and the card stays as the library keeps it.
QCoro::Task<> trashFromMenu(Library* library, Clip clip, ClipDetail::Services::Toast toast) {
    try {
        // A named task: GCC 12 destroys lambda temporaries inside a co_await expression twice.
        auto trashing = detail::inBackground([library, clip] { library->deleteClip(clip); });
        co_await std::move(trashing);
    } catch (...) {
        if (toast)
            toast(QStringLiteral("Couldn't move the clip to the Trash"),
                  failureText(std::current_exception()), false);
    }
}

} // namespace

LibraryWindow::LibraryWindow(Services services, QWidget* parent)
    : QWidget(parent)
    , m_services(std::move(services)) {
    if (!m_services.reveal)
        m_services.reveal = showInFolder;
    setObjectName(QStringLiteral("libraryWindow"));
    setWindowTitle(QStringLiteral("Clips"));
    Theme::styleWindow(this);
    resize(1080, 700);
    setMinimumSize(900, 560);

    Library* library = &m_services.library;
    m_thumbs = new ThumbnailCache(
        [library](const Clip& clip) { return library->loadThumbnail(clip); }, this);
    m_model = new ClipListModel(m_thumbs, this);
    m_filter = new GameFilterModel(this);
    m_filter->setSourceModel(m_model);

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    m_sidebar = new GameSidebar;
    m_divider = new QWidget;
    m_divider->setFixedWidth(1);
    m_divider->setAutoFillBackground(true);
    QPalette line = m_divider->palette();
    line.setColor(QPalette::Window, Theme::line());
    m_divider->setPalette(line);
    m_main = new QStackedWidget;
    row->addWidget(m_sidebar);
    row->addWidget(m_divider);
    row->addWidget(m_main, 1);

    m_grid = new ClipGrid;
    m_grid->setModel(m_filter);
    m_emptyPage = makeEmptyPage();
    m_detailPage = new QWidget;
    new QVBoxLayout(m_detailPage);
    m_detailPage->layout()->setContentsMargins(0, 0, 0, 0);
    m_main->addWidget(m_grid);
    m_main->addWidget(m_emptyPage);
    m_main->addWidget(m_detailPage);

    connect(m_sidebar, &GameSidebar::gameChosen, this, &LibraryWindow::chooseGame);
    connect(m_grid, &ClipGrid::clipClicked, this, &LibraryWindow::select);
    connect(m_grid, &ClipGrid::menuRequested, this, &LibraryWindow::showMenu);
    connect(m_grid, &ClipGrid::cardsResized, this, &LibraryWindow::shapePictures);
    connect(m_grid->verticalScrollBar(), &QScrollBar::valueChanged, m_thumbs,
            [this] { m_thumbs->hold(kScrollRestMs); });
    shapePictures();
    connect(library, &Library::clipsChanged, this, &LibraryWindow::published);

    Settings& settings = m_services.settings;
    connect(&settings, &Settings::saveHotkeyChanged, this, &LibraryWindow::showEmptyHint);
    connect(&settings, &Settings::bufferSecondsChanged, this, &LibraryWindow::showEmptyHint);
    showEmptyHint();

    // Relative dates on the cards age while the window stays open.
    auto* minute = new QTimer(this);
    minute->setInterval(60'000);
    connect(minute, &QTimer::timeout, m_grid->viewport(), qOverload<>(&QWidget::update));
    minute->start();

    published(library->clips());
}

LibraryWindow::~LibraryWindow() = default;

QWidget* LibraryWindow::makeEmptyPage() {
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("emptyState"));
    auto* column = new QVBoxLayout(page);
    column->setContentsMargins(40, 40, 40, 40);
    column->setSpacing(8);
    auto* heading = new QLabel(QStringLiteral("No clips yet"));
    heading->setObjectName(QStringLiteral("emptyHeading"));
    heading->setFont(Theme::font(17, QFont::DemiBold));
    heading->setAlignment(Qt::AlignCenter);
    m_emptyHint = new QLabel;
    m_emptyHint->setObjectName(QStringLiteral("emptyHint"));
    m_emptyHint->setFont(Theme::font(13));
    m_emptyHint->setProperty("muted", true);
    m_emptyHint->setAlignment(Qt::AlignCenter);
    m_emptyHint->setWordWrap(true);
    column->addStretch(1);
    column->addWidget(heading);
    column->addWidget(m_emptyHint);
    column->addStretch(1);
    return page;
}

void LibraryWindow::showEmptyHint() {
    Settings& settings = m_services.settings;
    const QString shortcut = settings.saveHotkey().display();
    m_emptyHint->setText(QStringLiteral("Press %1 while you play to save the last %2 seconds.")
                             .arg(shortcut)
                             .arg(settings.bufferSeconds()));
    m_sidebar->footer()->setShortcut(shortcut);
}

QString LibraryWindow::emptyText() const {
    return m_emptyHint->text();
}

StatusFooter* LibraryWindow::footer() const {
    return m_sidebar->footer();
}

QList<Clip> LibraryWindow::shown() const {
    QList<Clip> clips;
    for (int row = 0; row < m_filter->rowCount(); ++row)
        clips.append(m_filter->index(row, 0).data(ClipListModel::ClipRole).value<Clip>());
    return clips;
}

QString LibraryWindow::showing() const {
    if (m_main->currentWidget() == m_detailPage)
        return QStringLiteral("detail");
    return m_main->currentWidget() == m_grid ? QStringLiteral("grid") : QStringLiteral("empty");
}

void LibraryWindow::shapePictures() {
    m_thumbs->setShape(
        {m_grid->cards()->pictureSize(), ClipCardDelegate::kPictureRadius, devicePixelRatioF()});
}

void LibraryWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    shapePictures(); // now on its screen
    Library* library = &m_services.library;
    QThreadPool::globalInstance()->start([library] { library->reload(); });
}

void LibraryWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && m_detail) {
        if (isFullScreen())
            setFullScreen(false);
        else
            back();
        return;
    }
    QWidget::keyPressEvent(event);
}

void LibraryWindow::published(const QList<Clip>& clips) {
    m_model->setClips(clips);
    countGames(clips);
    refreshMain();
}

void LibraryWindow::countGames(const QList<Clip>& clips) {
    const int asked = ++m_countsAsked;
    if (clips.size() <= kCountOnThisThread) {
        m_sidebar->rows()->setCounts(GameListModel::count(clips));
        return;
    }
    // Counting the games of a very large folder would hold the window up; the newest count
    // asked for is the one shown.
    QPointer<LibraryWindow> self(this);
    auto counting = [](QPointer<LibraryWindow> window, QList<Clip> all,
                       int ticket) -> QCoro::Task<> {
        auto work = detail::inBackground([all] { return GameListModel::count(all); });
        const GameListModel::Counts counts = co_await std::move(work);
        if (window && ticket == window->m_countsAsked)
            window->m_sidebar->rows()->setCounts(counts);
    };
    counting(self, clips, asked);
}

void LibraryWindow::chooseGame(const std::optional<QString>& game) {
    m_game = game;
    m_selected.reset();
    m_filter->setGame(game);
    m_sidebar->rows()->setGame(game);
    m_grid->scrollToTop();
    refreshMain();
}

void LibraryWindow::select(const Clip& clip) {
    m_selected = clip;
    refreshMain();
}

void LibraryWindow::back() {
    m_selected.reset();
    refreshMain();
}

void LibraryWindow::refreshMain() {
    const int row = m_selected ? m_model->rowOf(m_selected->url) : -1;
    if (row >= 0) {
        const Clip current = m_model->clips()[row];
        if (m_detail && m_detail->clip().url == current.url)
            m_detail->setClip(current);
        else
            openDetail(current);
        m_main->setCurrentWidget(m_detailPage);
        return;
    }
    closeDetail();
    m_main->setCurrentWidget(m_filter->rowCount() > 0 ? static_cast<QWidget*>(m_grid)
                                                      : m_emptyPage);
}

void LibraryWindow::openDetail(const Clip& clip) {
    closeDetail();
    m_detail = new ClipDetail(
        clip, {m_services.library, m_services.sharing, m_services.toast, m_services.reveal});
    m_detailPage->layout()->addWidget(m_detail);
    connect(m_detail, &ClipDetail::back, this, &LibraryWindow::back);
    connect(m_detail, &ClipDetail::fullScreenRequested, this, &LibraryWindow::setFullScreen);
}

void LibraryWindow::closeDetail() {
    if (!m_detail)
        return;
    if (isFullScreen())
        setFullScreen(false);
    // Deleted later: a button of the view may be what asked to go back. Out of the window at
    // once, so nothing finds the old view meanwhile.
    m_detail->hide();
    m_detail->setParent(nullptr);
    m_detail->deleteLater();
    m_detail = nullptr;
}

void LibraryWindow::showMenu(const Clip& clip, const QPoint& at) {
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->addAction(QStringLiteral("Show in Folder"), this,
                    [this, clip] { m_services.reveal(clip.url); });
    if (clip.meta.shareURL)
        menu->addAction(QStringLiteral("Copy link"), this,
                        [clip] { copyText(*clip.meta.shareURL); });
    menu->addSeparator();
    Library* library = &m_services.library;
    auto toast = m_services.toast;
    menu->addAction(QStringLiteral("Move to Trash"), this,
                    [library, clip, toast] { trashFromMenu(library, clip, toast); });
    menu->popup(at);
}

void LibraryWindow::setFullScreen(bool on) {
    if (on == isFullScreen())
        return;
    m_sidebar->setVisible(!on);
    m_divider->setVisible(!on);
    if (m_detail)
        m_detail->setTheatre(on);
    if (on) {
        m_wasMaximized = isMaximized();
        showFullScreen();
    } else if (m_wasMaximized) {
        showMaximized();
    } else {
        showNormal();
    }
}

} // namespace vantel
