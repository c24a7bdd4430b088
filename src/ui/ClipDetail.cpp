#include "ui/ClipDetail.h"

#include "library/Background.h"
#include "library/Clips.h"
#include "library/Library.h"
#include "ui/ClipCardDelegate.h"
#include "ui/Glyphs.h"
#include "ui/MpvPlayer.h"
#include "ui/PlayerView.h"
#include "ui/RelativeDate.h"
#include "ui/ShareService.h"
#include "ui/Theme.h"
#include "ui/TrimBar.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QThreadPool>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

namespace vantel {

namespace {

constexpr int kMargin = 20;
constexpr int kRowGap = 14;
const QColor kErrorRed(255, 99, 99);

using Toast = std::function<void(const QString&, const QString&, bool)>;

QString trimSpacesAndTabs(const QString& text) {
    qsizetype start = 0;
    qsizetype end = text.size();
    auto blank = [](QChar c) {
        return c == u' ' || c == u'\t';
    };
    while (start < end && blank(text[start]))
        ++start;
    while (end > start && blank(text[end - 1]))
        --end;
    return text.mid(start, end - start);
}

QPushButton* primaryButton(const QString& text, Glyph glyph) {
    auto* button = new QPushButton(glyphIcon(glyph, QColor(0, 0, 0)), text);
    Accent::apply(button);
    button->setIconSize(QSize(15, 15));
    button->setFocusPolicy(Qt::TabFocus);
    return button;
}

QPushButton* plainButton(const QString& text, std::optional<Glyph> glyph = std::nullopt) {
    auto* button = new QPushButton(text);
    if (glyph) {
        button->setIcon(glyphIcon(*glyph, Theme::ink()));
        button->setIconSize(QSize(15, 15));
    }
    button->setFocusPolicy(Qt::TabFocus);
    button->setCursor(Qt::PointingHandCursor);
    return button;
}

void toastIf(const Toast& toast, const QString& title, const QString& detail, bool ok) {
    if (toast)
        toast(title, detail, ok);
}

// Free coroutines: the view may be gone when they resume, so they hold it by a guarded pointer
// and keep what they report with by value.
QCoro::Task<> runTrim(QPointer<ClipDetail> view, Library* library, Clip clip,
                      media::TimeRange range, Toast toast,
                      std::function<void(std::optional<QString>)> fail) {
    try {
        const QString path = co_await Clips::trimCopy(clip, range, *library);
        if (view)
            view->setTrim(std::nullopt);
        toastIf(toast, ClipDetail::tr("Trimmed copy saved"), QFileInfo(path).fileName(), true);
        if (view)
            fail(std::nullopt);
    } catch (...) {
        const QString text = failureText(std::current_exception());
        if (view)
            fail(text);
        else
            toastIf(toast, ClipDetail::tr("Couldn't save the trimmed copy"), text, false);
    }
}

// The failure being handled reaches the view while it is open, and a toast titled `title`
// once it has closed.
void tellFailure(const QPointer<ClipDetail>& view,
                 const std::function<void(std::optional<QString>)>& finish, const Toast& toast,
                 const QString& title) {
    const QString text = failureText(std::current_exception());
    if (view)
        finish(text);
    else
        toastIf(toast, title, text, false);
}

QCoro::Task<> runShare(QPointer<ClipDetail> view, ShareService* sharing, Clip clip,
                       Clips::ExportOptions options, QString title, Toast toast,
                       ShareService::Progress progress,
                       std::function<void(std::optional<QString>)> finish) {
    try {
        const QString link = co_await sharing->share(clip, options, title, progress);
        copyText(link);
        toastIf(toast, ClipDetail::tr("Link copied"), link, true);
        if (view)
            finish(std::nullopt);
    } catch (...) {
        tellFailure(view, finish, toast, ClipDetail::tr("Couldn't share the clip"));
    }
}

QCoro::Task<> runUnshare(QPointer<ClipDetail> view, ShareService* sharing, Clip clip, Toast toast,
                         std::function<void(std::optional<QString>)> finish) {
    try {
        co_await sharing->unshare(clip);
        if (view)
            finish(std::nullopt);
    } catch (...) {
        // The link stays public until the service agrees: the user must know it is still up.
        tellFailure(view, finish, toast, ClipDetail::tr("Couldn't stop sharing the clip"));
    }
}

// The Trash move touches the file system: off the window's thread. The view goes back to the
// grid only once the file is gone; a refusal keeps it open with the reason.
QCoro::Task<> runTrash(QPointer<ClipDetail> view, Library* library, Clip clip, Toast toast,
                       std::function<void(std::optional<QString>)> finish) {
    try {
        // A named task: GCC 12 destroys lambda temporaries inside a co_await expression twice.
        auto trashing = detail::inBackground([library, clip] { library->deleteClip(clip); });
        co_await std::move(trashing);
        if (view)
            finish(std::nullopt);
    } catch (...) {
        tellFailure(view, finish, toast, ClipDetail::tr("Couldn't move the clip to the Trash"));
    }
}

} // namespace

ClipDetail::ClipDetail(const Clip& clip, Context context, QWidget* parent)
    : QWidget(parent)
    , m_clip(clip)
    , m_context(std::move(context)) {
    setObjectName(QStringLiteral("clipDetail"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(kMargin, kMargin, kMargin, kMargin);
    layout->setSpacing(kRowGap);
    layout->addWidget(makeTopBar());
    m_player = new PlayerView;
    layout->addWidget(m_player, 1);
    layout->addWidget(makeCantPlay(), 1);
    m_trimPanel = new TrimPanel;
    m_trimPanel->hide();
    layout->addWidget(m_trimPanel);
    layout->addWidget(makeTitleRow());
    layout->addWidget(makeVolumeRow());
    m_actions = new QWidget;
    m_actions->setObjectName(QStringLiteral("actionRow"));
    new QHBoxLayout(m_actions);
    m_actions->layout()->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_actions);
    layout->addWidget(makeStatusRows());

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
    if (m_context.sharing)
        connect(m_context.sharing, &ShareService::signedInChanged, this,
                &ClipDetail::rebuildActions);
    showPlayback();
    rebuildActions();
    m_player->setFocus();
}

ClipDetail::~ClipDetail() {
    m_player->player()->pause();
}

QWidget* ClipDetail::makeTopBar() {
    m_topBar = new QWidget;
    auto* row = new QHBoxLayout(m_topBar);
    row->setContentsMargins(0, 0, 0, 0);
    auto* back = new QPushButton(glyphIcon(Glyph::ChevronLeft, Theme::muted()), tr("Clips"));
    back->setObjectName(QStringLiteral("backButton"));
    back->setIconSize(QSize(16, 16));
    back->setCursor(Qt::PointingHandCursor);
    back->setFocusPolicy(Qt::TabFocus);
    back->setStyleSheet(
        QStringLiteral("QPushButton#backButton { background: transparent; border: none; color: %1; "
                       "padding: 4px 6px 4px 0; font-size: 13px; } QPushButton#backButton:hover { "
                       "color: %2; }")
            .arg(Theme::css(Theme::muted()), Theme::css(Theme::ink())));
    connect(back, &QPushButton::clicked, this, &ClipDetail::back);
    m_topLine = new QLabel;
    m_topLine->setObjectName(QStringLiteral("topLine"));
    m_topLine->setFont(Theme::font(12));
    m_topLine->setProperty("muted", true);
    m_topLine->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    row->addWidget(back);
    row->addStretch(1);
    row->addWidget(m_topLine);
    showTopLine();
    return m_topBar;
}

QWidget* ClipDetail::makeCantPlay() {
    m_cantPlay = new QFrame;
    m_cantPlay->setObjectName(QStringLiteral("cantPlay"));
    m_cantPlay->setStyleSheet(
        QStringLiteral("QFrame#cantPlay { background: %1; border: 1px solid %2; "
                       "border-radius: 10px; }")
            .arg(Theme::css(QColor(22, 22, 25)), Theme::css(Theme::line())));
    auto* column = new QVBoxLayout(m_cantPlay);
    column->setContentsMargins(40, 40, 40, 40);
    column->setSpacing(10);
    auto* symbol = new QLabel;
    symbol->setPixmap(glyphIcon(Glyph::NoPlay, Theme::muted()).pixmap(QSize(44, 44)));
    symbol->setAlignment(Qt::AlignCenter);
    auto* heading = new QLabel(ClipCardDelegate::cantPlayText());
    heading->setObjectName(QStringLiteral("cantPlayHeading"));
    heading->setFont(Theme::font(17, QFont::DemiBold));
    heading->setAlignment(Qt::AlignCenter);
    auto* why = new QLabel(tr("This file doesn't open as a video. It may be damaged, cut short "
                              "by a copy that broke off, or not a video at all. You can still "
                              "show it in its folder or move it to the Trash."));
    why->setFont(Theme::font(13));
    why->setProperty("muted", true);
    why->setAlignment(Qt::AlignCenter);
    why->setWordWrap(true);
    why->setFixedWidth(440);
    why->setMinimumHeight(why->heightForWidth(440));
    column->addStretch(1);
    column->addWidget(symbol);
    column->addWidget(heading);
    column->addWidget(why, 0, Qt::AlignHCenter);
    column->addStretch(1);
    m_cantPlay->hide();
    return m_cantPlay;
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
    m_title = new QLineEdit(m_clip.meta.title);
    m_title->setObjectName(QStringLiteral("titleField"));
    m_title->setPlaceholderText(tr("Title"));
    m_title->setFont(Theme::font(18, QFont::DemiBold));
    m_title->setStyleSheet(
        QStringLiteral(
            "QLineEdit#titleField { background: transparent; border: 1px solid transparent; "
            "padding: 2px 6px; margin-left: -7px; } QLineEdit#titleField:hover { border-color: %1; "
            "} "
            "QLineEdit#titleField:focus { border-color: %2; background: %3; }")
            .arg(Theme::css(QColor(255, 255, 255, 36)), Theme::css(Theme::accent()),
                 Theme::css(Theme::panel())));
    connect(m_title, &QLineEdit::returnPressed, this, &ClipDetail::rename);
    m_trimButton = plainButton(tr("Trim"), Glyph::Scissors);
    m_trimButton->setObjectName(QStringLiteral("trimButton"));
    connect(m_trimButton, &QPushButton::clicked, this, &ClipDetail::startTrim);
    m_saveTrim = plainButton(QString());
    m_saveTrim->setObjectName(QStringLiteral("saveTrimButton"));
    m_saveTrim->hide();
    connect(m_saveTrim, &QPushButton::clicked, this, &ClipDetail::saveTrim);
    row->addWidget(m_title, 1);
    row->addWidget(m_trimButton);
    row->addWidget(m_saveTrim);
    return m_titleRow;
}

QHBoxLayout* ClipDetail::makeVolumeSlider(const QString& label, QSlider*& slider, QLabel*& value) {
    auto* row = new QHBoxLayout;
    row->setSpacing(8);
    auto* name = new QLabel(label);
    name->setFont(Theme::font(12));
    name->setProperty("muted", true);
    name->setFixedWidth(38);
    slider = new QSlider(Qt::Horizontal);
    slider->setRange(0, 150);
    slider->setValue(100);
    slider->setFixedWidth(160);
    slider->setFocusPolicy(Qt::TabFocus);
    value = new QLabel(QStringLiteral("100%"));
    value->setFont(Theme::mono(12));
    value->setFixedWidth(40);
    row->addWidget(name);
    row->addWidget(slider);
    row->addWidget(value);
    return row;
}

QWidget* ClipDetail::makeVolumeRow() {
    m_volumeRow = new QWidget;
    m_volumeRow->setObjectName(QStringLiteral("volumeRow"));
    auto* row = new QHBoxLayout(m_volumeRow);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(28);
    row->addLayout(makeVolumeSlider(tr("Game"), m_gameSlider, m_gameValue));
    row->addLayout(makeVolumeSlider(tr("Mic"), m_micSlider, m_micValue));
    row->addStretch(1);
    m_gameSlider->setObjectName(QStringLiteral("gameSlider"));
    m_micSlider->setObjectName(QStringLiteral("micSlider"));
    auto changed = [this] {
        m_gameVol = m_gameSlider->value() / 100.0;
        m_micVol = m_micSlider->value() / 100.0;
        m_gameValue->setText(QStringLiteral("%1%").arg(m_gameSlider->value()));
        m_micValue->setText(QStringLiteral("%1%").arg(m_micSlider->value()));
        applyMix();
    };
    connect(m_gameSlider, &QSlider::valueChanged, this, changed);
    connect(m_micSlider, &QSlider::valueChanged, this, changed);
    m_volumeRow->setVisible(m_clip.meta.hasMic);
    return m_volumeRow;
}

QWidget* ClipDetail::makeStatusRows() {
    auto* box = new QWidget;
    auto* column = new QVBoxLayout(box);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(6);
    m_busyRow = new QWidget;
    m_busyRow->setObjectName(QStringLiteral("busyRow"));
    auto* busy = new QHBoxLayout(m_busyRow);
    busy->setContentsMargins(0, 0, 0, 0);
    busy->setSpacing(12);
    m_busyText = new QLabel;
    m_busyText->setFont(Theme::font(12));
    m_progressBar = new QProgressBar;
    m_progressBar->setRange(0, 1000);
    m_progressBar->setTextVisible(false);
    busy->addWidget(m_busyText);
    busy->addWidget(m_progressBar, 1);
    m_busyRow->hide();
    m_errorText = new QLabel;
    m_errorText->setObjectName(QStringLiteral("errorText"));
    m_errorText->setFont(Theme::font(12));
    m_errorText->setWordWrap(true);
    m_errorText->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_errorText->setStyleSheet(QStringLiteral("color: %1;").arg(Theme::css(kErrorRed)));
    m_errorText->hide();
    column->addWidget(m_busyRow);
    column->addWidget(m_errorText);
    return box;
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
    showTopLine();
    if (linkChanged)
        rebuildActions();
}

void ClipDetail::showTopLine() {
    const ClipMeta& meta = m_clip.meta;
    QString text = meta.game + QStringLiteral(" · ") + shortDateTime(meta.created);
    if (meta.width > 0)
        text += QStringLiteral(" · %1p").arg(meta.height);
    m_topLine->setText(text);
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
    QPushButton* reveal = plainButton(tr("Show in Folder"), Glyph::Folder);
    reveal->setObjectName(QStringLiteral("revealButton"));
    connect(reveal, &QPushButton::clicked, this, [this] {
        if (m_context.reveal)
            m_context.reveal(m_clip.url);
    });
    row->addWidget(reveal);
    row->addStretch(1);
    auto* trash = new QToolButton;
    trash->setObjectName(QStringLiteral("trashButton"));
    trash->setIcon(glyphIcon(Glyph::Trash, Theme::ink()));
    trash->setIconSize(QSize(16, 16));
    trash->setToolTip(tr("Move to Trash"));
    trash->setCursor(Qt::PointingHandCursor);
    trash->setFocusPolicy(Qt::TabFocus);
    connect(trash, &QToolButton::clicked, this, &ClipDetail::moveToTrash);
    row->addWidget(trash);
}

void ClipDetail::addShareActions(QHBoxLayout* row) {
    if (m_clip.meta.shareURL) {
        QPushButton* copy = primaryButton(tr("Copy link"), Glyph::Link);
        copy->setObjectName(QStringLiteral("copyLinkButton"));
        QPushButton* open = plainButton(tr("Open"));
        open->setObjectName(QStringLiteral("openButton"));
        QPushButton* stop = plainButton(tr("Stop sharing"));
        stop->setObjectName(QStringLiteral("stopSharingButton"));
        stop->setEnabled(m_context.sharing != nullptr);
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
    if (!m_context.sharing || !m_context.sharing->signedIn()) {
        m_shareButton = primaryButton(tr("Sign in with Discord to share"), Glyph::Person);
        m_shareButton->setObjectName(QStringLiteral("signInButton"));
        m_shareButton->setEnabled(m_context.sharing != nullptr);
        connect(m_shareButton, &QPushButton::clicked, this, [this] {
            if (m_context.sharing)
                m_context.sharing->signIn();
        });
    } else {
        m_shareButton = primaryButton(
            m_trim ? tr("Get a link to the trimmed part") : tr("Get a link"), Glyph::ArrowUp);
        m_shareButton->setObjectName(QStringLiteral("shareButton"));
        m_shareButton->setEnabled(!m_busy);
        connect(m_shareButton, &QPushButton::clicked, this, &ClipDetail::share);
    }
    row->addWidget(m_shareButton);
}

void ClipDetail::rename() {
    const QString text = trimSpacesAndTabs(m_title->text());
    if (text.isEmpty())
        return;
    m_title->setText(text);
    Library* library = m_context.library;
    const QString url = m_clip.url;
    // The library rescans the folder after a change; off the window's thread.
    QThreadPool::globalInstance()->start([library, url, text] {
        library->update(url, [text](ClipMeta& meta) { meta.title = text; });
    });
    if (m_clip.meta.shareID && m_context.sharing)
        m_context.sharing->sendTitle(*m_clip.meta.shareID, text);
}

void ClipDetail::share() {
    if (!m_context.sharing || m_busy)
        return;
    setError(std::nullopt);
    setBusy(tr("Preparing"));
    rename();
    Clips::ExportOptions options;
    options.range = m_trim;
    options.gameVolume = float(m_gameVol);
    options.micVolume = float(m_micVol);
    QString title = trimSpacesAndTabs(m_title->text());
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
    runShare(self, m_context.sharing, m_clip, options, title, m_context.toast, progress, finish);
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
        m_saveTrim->setText(tr("Save trimmed copy (%1)").arg(fmtDuration(m_trim->duration())));
    m_saveTrim->setEnabled(!m_busy);
}

void ClipDetail::saveTrim() {
    if (!m_trim || m_busy)
        return;
    setError(std::nullopt);
    setBusy(tr("Saving"));
    QPointer<ClipDetail> self(this);
    auto finish = [self](std::optional<QString> failure) {
        if (!self)
            return;
        self->setError(failure);
        self->setBusy(std::nullopt);
    };
    runTrim(self, m_context.library, m_clip, *m_trim, m_context.toast, finish);
}

void ClipDetail::setVolumes(double game, double mic) {
    m_gameSlider->setValue(int(game * 100));
    m_micSlider->setValue(int(mic * 100));
}

void ClipDetail::applyMix() {
    m_player->player()->setMix(m_gameVol, m_micVol);
}

void ClipDetail::setBusy(const std::optional<QString>& stage, double progress) {
    m_busy = stage;
    m_progress = progress;
    showBusy();
}

void ClipDetail::showBusy() {
    m_busyRow->setVisible(m_busy.has_value());
    m_busyText->setText(m_busy.value_or(QString()));
    m_progressBar->setValue(int(std::clamp(m_progress, 0.0, 1.0) * 1000));
    if (m_shareButton && m_context.sharing && m_context.sharing->signedIn())
        m_shareButton->setEnabled(!m_busy);
    m_saveTrim->setEnabled(!m_busy);
}

void ClipDetail::setError(const std::optional<QString>& message) {
    m_error = message;
    m_errorText->setVisible(message.has_value());
    m_errorText->setText(message.value_or(QString()));
}

void ClipDetail::copyLink() {
    if (!m_clip.meta.shareURL)
        return;
    copyText(*m_clip.meta.shareURL);
    toastIf(m_context.toast, tr("Link copied"), *m_clip.meta.shareURL, true);
}

void ClipDetail::openLink() {
    const QUrl link(m_clip.meta.shareURL.value_or(QString()), QUrl::StrictMode);
    if (!link.isValid() || (link.scheme() != u"https" && link.scheme() != u"http")) {
        setError(tr("This clip's link is not a web address."));
        return;
    }
    QDesktopServices::openUrl(link);
}

void ClipDetail::stopSharing() {
    if (!m_context.sharing)
        return;
    setError(std::nullopt);
    QPointer<ClipDetail> self(this);
    auto finish = [self](std::optional<QString> failure) {
        if (!self)
            return;
        if (!failure)
            return; // the library's new list rebuilds the row without the link
        self->setError(ClipDetail::tr("Couldn't stop sharing: %1").arg(*failure));
        self->rebuildActions();
    };
    runUnshare(self, m_context.sharing, m_clip, m_context.toast, finish);
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
    runTrash(self, m_context.library, m_clip, m_context.toast, finish);
}

void ClipDetail::setTheatre(bool on) {
    for (QWidget* part : {m_topBar, m_titleRow, m_actions})
        part->setVisible(!on);
    m_volumeRow->setVisible(!on && m_clip.meta.hasMic && m_clip.playback != Playback::unplayable);
    m_busyRow->setVisible(!on && m_busy);
    m_errorText->setVisible(!on && m_error);
    const int margin = on ? 0 : kMargin;
    layout()->setContentsMargins(margin, margin, margin, margin);
    m_player->setFocus();
}

} // namespace vantel
