#include "ui/ClipDetail.h"

#include "library/Library.h"
#include "ui/ClipButtons.h"
#include "ui/ClipCantPlayPanel.h"
#include "ui/ClipStatusRows.h"
#include "ui/ClipTitleField.h"
#include "ui/ClipTopBar.h"
#include "ui/ClipVolumeRow.h"
#include "ui/MpvPlayer.h"
#include "ui/PlayerView.h"
#include "ui/ShareService.h"
#include "ui/Theme.h"
#include "ui/TrimBar.h"

#include <QDesktopServices>
#include <QHBoxLayout>
#include <QPushButton>
#include <QThreadPool>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

namespace vantel {

namespace {

constexpr int kMargin = 20;
constexpr int kRowGap = 14;

} // namespace

ClipDetail::ClipDetail(const Clip& clip, Services services, QWidget* parent)
    : QWidget(parent)
    , m_clip(clip)
    , m_services(std::move(services)) {
    setObjectName(QStringLiteral("clipDetail"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(kMargin, kMargin, kMargin, kMargin);
    layout->setSpacing(kRowGap);
    m_topBar = new ClipTopBar;
    m_topBar->showClip(m_clip.meta);
    connect(m_topBar, &ClipTopBar::back, this, &ClipDetail::back);
    layout->addWidget(m_topBar);
    m_player = new PlayerView;
    layout->addWidget(m_player, 1);
    m_cantPlay = new ClipCantPlayPanel;
    m_cantPlay->hide();
    layout->addWidget(m_cantPlay, 1);
    m_trimPanel = new TrimPanel;
    m_trimPanel->hide();
    layout->addWidget(m_trimPanel);
    layout->addWidget(makeTitleRow());
    m_volumeRow = new ClipVolumeRow;
    m_volumeRow->setVisible(m_clip.meta.hasMic);
    layout->addWidget(m_volumeRow);
    m_actions = new QWidget;
    m_actions->setObjectName(QStringLiteral("actionRow"));
    new QHBoxLayout(m_actions);
    m_actions->layout()->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_actions);
    m_status = new ClipStatusRows;
    layout->addWidget(m_status);

    MpvPlayer* player = m_player->player();
    connect(m_player, &PlayerView::fullScreenRequested, this, &ClipDetail::fullScreenRequested);
    connect(player, &MpvPlayer::durationChanged, m_trimPanel->bar(), &TrimBar::setDuration);
    connect(player, &MpvPlayer::positionChanged, m_trimPanel->bar(), &TrimBar::setPosition);
    connect(m_trimPanel->bar(), &TrimBar::handleDragged, player,
            [player](double at) { player->seek(at, true); });
    connect(m_trimPanel->bar(), &TrimBar::seekRequested, player,
            [player](double at) { player->seek(at, true); });
    connect(m_trimPanel, &TrimPanel::confirmed, this, [this](double in, double out) {
        setTrim(media::TimeRange{in, out});
        endTrim();
    });
    connect(m_trimPanel, &TrimPanel::cancelled, this, &ClipDetail::endTrim);
    connect(m_volumeRow, &ClipVolumeRow::volumesChanged, player, &MpvPlayer::setMix);
    if (m_services.sharing)
        connect(m_services.sharing, &ShareService::signedInChanged, this,
                &ClipDetail::rebuildActions);
    showPlayback();
    rebuildActions();
    m_player->setFocus();
}

ClipDetail::~ClipDetail() {
    m_player->player()->pause();
}

// A file that cannot be played gets no player (nothing would show but black) and none of what
// needs one; a file whose facts are still being read is tried.
void ClipDetail::showPlayback() {
    const bool playable = m_clip.playback != Playback::unplayable;
    m_player->setVisible(playable);
    m_cantPlay->setVisible(!playable);
    m_trimButton->setVisible(playable);
    m_volumeRow->setVisible(playable && m_clip.meta.hasMic);
    if (playable && !m_opened) {
        m_opened = true;
        m_player->player()->open(m_clip.url);
    }
}

QWidget* ClipDetail::makeTitleRow() {
    m_titleRow = new QWidget;
    auto* row = new QHBoxLayout(m_titleRow);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(10);
    m_title = new ClipTitleField(m_clip.meta.title);
    connect(m_title, &QLineEdit::returnPressed, this, &ClipDetail::rename);
    m_trimButton = ClipButtons::plain(QStringLiteral("Trim"), Glyph::Scissors);
    m_trimButton->setObjectName(QStringLiteral("trimButton"));
    connect(m_trimButton, &QPushButton::clicked, this, &ClipDetail::startTrim);
    m_saveTrim = ClipButtons::plain(QString());
    m_saveTrim->setObjectName(QStringLiteral("saveTrimButton"));
    m_saveTrim->hide();
    connect(m_saveTrim, &QPushButton::clicked, this, &ClipDetail::saveTrim);
    row->addWidget(m_title, 1);
    row->addWidget(m_trimButton);
    row->addWidget(m_saveTrim);
    return m_titleRow;
}

void ClipDetail::setClip(const Clip& clip) {
    const bool linkChanged =
        clip.meta.shareURL != m_clip.meta.shareURL || clip.playback != m_clip.playback;
    // The field follows a new title unless the user is typing another one.
    if (!m_title->hasFocus() && m_title->text() == m_clip.meta.title)
        m_title->setText(clip.meta.title);
    m_clip = clip;
    if (m_topBar->isVisibleTo(this))
        showPlayback();
    m_topBar->showClip(m_clip.meta);
    if (linkChanged)
        rebuildActions();
}

void ClipDetail::rebuildActions() {
    auto* row = static_cast<QHBoxLayout*>(m_actions->layout());
    while (QLayoutItem* item = row->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    m_shareButton = nullptr;
    row->setSpacing(10);
    if (m_clip.playback != Playback::unplayable)
        addShareActions(row);
    QPushButton* reveal = ClipButtons::plain(QStringLiteral("Show in Folder"), Glyph::Folder);
    reveal->setObjectName(QStringLiteral("revealButton"));
    connect(reveal, &QPushButton::clicked, this, [this] {
        if (m_services.reveal)
            m_services.reveal(m_clip.url);
    });
    row->addWidget(reveal);
    row->addStretch(1);
    QToolButton* trash = ClipButtons::icon(Glyph::Trash, QStringLiteral("Move to Trash"));
    trash->setObjectName(QStringLiteral("trashButton"));
    connect(trash, &QToolButton::clicked, this, &ClipDetail::moveToTrash);
    row->addWidget(trash);
}

void ClipDetail::addShareActions(QHBoxLayout* row) {
    if (m_clip.meta.shareURL) {
        QPushButton* copy = ClipButtons::primary(QStringLiteral("Copy link"), Glyph::Link);
        copy->setObjectName(QStringLiteral("copyLinkButton"));
        QPushButton* open = ClipButtons::plain(QStringLiteral("Open"));
        open->setObjectName(QStringLiteral("openButton"));
        QPushButton* stop = ClipButtons::plain(QStringLiteral("Stop sharing"));
        stop->setObjectName(QStringLiteral("stopSharingButton"));
        stop->setEnabled(m_services.sharing != nullptr);
        connect(copy, &QPushButton::clicked, this, &ClipDetail::copyLink);
        connect(open, &QPushButton::clicked, this, &ClipDetail::openLink);
        connect(stop, &QPushButton::clicked, this, [this, stop] {
            stop->setEnabled(false);
            stopSharing();
        });
        for (QPushButton* button : {copy, open, stop})
            row->addWidget(button);
        return;
    }
    if (!m_services.sharing || !m_services.sharing->signedIn()) {
        m_shareButton =
            ClipButtons::primary(QStringLiteral("Sign in with Discord to share"), Glyph::Person);
        m_shareButton->setObjectName(QStringLiteral("signInButton"));
        m_shareButton->setEnabled(m_services.sharing != nullptr);
        connect(m_shareButton, &QPushButton::clicked, this, [this] {
            if (m_services.sharing)
                m_services.sharing->signIn();
        });
    } else {
        m_shareButton =
            ClipButtons::primary(m_trim ? QStringLiteral("Get a link to the trimmed part")
                                        : QStringLiteral("Get a link"),
                                 Glyph::ArrowUp);
        m_shareButton->setObjectName(QStringLiteral("shareButton"));
        m_shareButton->setEnabled(!m_busy);
        connect(m_shareButton, &QPushButton::clicked, this, &ClipDetail::share);
    }
    row->addWidget(m_shareButton);
}

void ClipDetail::rename() {
    const QString text = m_title->cleanText();
    if (text.isEmpty())
        return;
    m_title->setText(text);
    Library& library = m_services.library;
    const QString url = m_clip.url;
    // The library rescans the folder after a change; off the window's thread.
    QThreadPool::globalInstance()->start([&library, url, text] {
        library.update(url, [text](ClipMeta& meta) { meta.title = text; });
    });
    if (m_clip.meta.shareID && m_services.sharing)
        m_services.sharing->sendTitle(*m_clip.meta.shareID, text);
}

void ClipDetail::share() {
    if (!m_services.sharing || m_busy)
        return;
    setError(std::nullopt);
    setBusy(QStringLiteral("Preparing"));
    rename();
    Clips::ExportOptions options;
    options.range = m_trim;
    options.gameVolume = float(gameVolume());
    options.micVolume = float(micVolume());
    QString title = m_title->cleanText();
    if (title.isEmpty())
        title = m_clip.meta.title;
    QPointer<ClipDetail> self(this);
    // Progress may arrive queued from another thread; none may bring the busy line back after
    // the share ended.
    auto ended = std::make_shared<bool>(false);
    auto progress = [self, ended](const QString& stage, double fraction) {
        if (self && !*ended)
            self->setBusy(stage, fraction);
    };
    auto finish = [self, ended](std::optional<QString> failure) {
        *ended = true;
        if (!self)
            return;
        self->setError(failure);
        self->setBusy(std::nullopt);
    };
    ClipJobs::share(self, *m_services.sharing, m_clip, options, title, m_services.toast, progress,
                    finish);
}

void ClipDetail::startTrim() {
    MpvPlayer* player = m_player->player();
    player->pause();
    TrimBar* bar = m_trimPanel->bar();
    bar->setDuration(player->duration() > 0 ? player->duration() : m_clip.meta.duration);
    if (m_trim)
        bar->setRange(m_trim->start, m_trim->end);
    else
        bar->setRange(0.0, bar->duration());
    m_player->setControlsVisible(false);
    m_trimPanel->show();
    m_trimButton->setEnabled(false);
}

void ClipDetail::endTrim() {
    m_trimPanel->hide();
    m_player->setControlsVisible(true);
    m_trimButton->setEnabled(true);
    m_player->setFocus();
}

void ClipDetail::setTrim(const std::optional<media::TimeRange>& range) {
    m_trim = range;
    showTrim();
    rebuildActions();
}

void ClipDetail::showTrim() {
    m_saveTrim->setVisible(m_trim.has_value());
    if (m_trim)
        m_saveTrim->setText(
            QStringLiteral("Save trimmed copy (%1)").arg(fmtDuration(m_trim->duration())));
    m_saveTrim->setEnabled(!m_busy);
}

void ClipDetail::saveTrim() {
    if (!m_trim || m_busy)
        return;
    setError(std::nullopt);
    setBusy(QStringLiteral("Saving"));
    QPointer<ClipDetail> self(this);
    auto finish = [self](std::optional<QString> failure) {
        if (!self)
            return;
        self->setError(failure);
        self->setBusy(std::nullopt);
    };
    ClipJobs::trim(self, m_services.library, m_clip, *m_trim, m_services.toast, finish);
}

double ClipDetail::gameVolume() const {
    return m_volumeRow->gameVolume();
}

double ClipDetail::micVolume() const {
    return m_volumeRow->micVolume();
}

void ClipDetail::setVolumes(double game, double mic) {
    m_volumeRow->setVolumes(game, mic);
}

void ClipDetail::setBusy(const std::optional<QString>& stage, double progress) {
    m_busy = stage;
    m_status->setBusy(stage, progress);
    if (m_shareButton && m_services.sharing && m_services.sharing->signedIn())
        m_shareButton->setEnabled(!m_busy);
    m_saveTrim->setEnabled(!m_busy);
}

void ClipDetail::setError(const std::optional<QString>& message) {
    m_error = message;
    m_status->setError(message);
}

void ClipDetail::copyLink() {
    if (!m_clip.meta.shareURL)
        return;
    copyText(*m_clip.meta.shareURL);
    if (m_services.toast)
        m_services.toast(QStringLiteral("Link copied"), *m_clip.meta.shareURL, true);
}

void ClipDetail::openLink() {
    const QUrl link(m_clip.meta.shareURL.value_or(QString()), QUrl::StrictMode);
    if (!link.isValid() || (link.scheme() != u"https" && link.scheme() != u"http")) {
        setError(QStringLiteral("This clip's link is not a web address."));
        return;
    }
    QDesktopServices::openUrl(link);
}

void ClipDetail::stopSharing() {
    if (!m_services.sharing)
        return;
    setError(std::nullopt);
    QPointer<ClipDetail> self(this);
    auto finish = [self](std::optional<QString> failure) {
        if (!self)
            return;
        if (!failure)
            return; // the library's new list rebuilds the row without the link
        self->setError(QStringLiteral("Couldn't stop sharing: %1").arg(*failure));
        self->rebuildActions();
    };
    ClipJobs::unshare(self, *m_services.sharing, m_clip, m_services.toast, finish);
}

void ClipDetail::moveToTrash() {
    setError(std::nullopt);
    QPointer<ClipDetail> self(this);
    auto finish = [self](std::optional<QString> failure) {
        if (!self)
            return;
        if (!failure) {
            emit self->back();
            return;
        }
        self->setError(failure);
    };
    ClipJobs::trash(self, m_services.library, m_clip, m_services.toast, finish);
}

void ClipDetail::setTheatre(bool on) {
    for (QWidget* part : {static_cast<QWidget*>(m_topBar), m_titleRow, m_actions})
        part->setVisible(!on);
    m_volumeRow->setVisible(!on && m_clip.meta.hasMic && m_clip.playback != Playback::unplayable);
    m_status->setVisible(!on);
    const int margin = on ? 0 : kMargin;
    layout()->setContentsMargins(margin, margin, margin, margin);
    m_player->setFocus();
}

} // namespace vantel
