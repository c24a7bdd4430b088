#include "ui/PlayerView.h"

#include "ui/Glyphs.h"
#include "ui/MpvPlayer.h"
#include "ui/Theme.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QToolButton>
#include <QVBoxLayout>

namespace vantel {

namespace {

constexpr double kJumpSeconds = 5.0;

QToolButton* barButton(Glyph glyph, const QString& tip) {
    auto* button = new QToolButton;
    button->setIcon(glyphIcon(glyph, Theme::ink()));
    button->setIconSize(QSize(18, 18));
    button->setToolTip(tip);
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::NoFocus);
    button->setCursor(Qt::PointingHandCursor);
    return button;
}

} // namespace

SeekSlider::SeekSlider(QWidget* parent)
    : QSlider(Qt::Horizontal, parent) {
    setFocusPolicy(Qt::NoFocus);
    setCursor(Qt::PointingHandCursor);
}

void SeekSlider::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        QStyleOptionSlider option;
        initStyleOption(&option);
        const QRect handle =
            style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, this);
        if (!handle.contains(event->position().toPoint())) {
            const int span = width() - handle.width();
            const int at = int(event->position().x()) - handle.width() / 2;
            setValue(QStyle::sliderValueFromPosition(minimum(), maximum(), at, span));
            emit sliderMoved(value());
        }
    }
    QSlider::mousePressEvent(event);
}

PlayerView::PlayerView(QWidget* parent)
    : QWidget(parent)
    , m_player(new MpvPlayer(this)) {
    setFocusPolicy(Qt::StrongFocus);
    m_player->setFocusProxy(this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    layout->addWidget(m_player, 1);
    m_bar = makeBar();
    layout->addWidget(m_bar);
    connect(m_player, &MpvPlayer::positionChanged, this, &PlayerView::showPosition);
    connect(m_player, &MpvPlayer::durationChanged, this, &PlayerView::showDuration);
    connect(m_player, &MpvPlayer::pausedChanged, this, &PlayerView::showPaused);
}

QWidget* PlayerView::makeBar() {
    auto* bar = new QWidget;
    bar->setObjectName(QStringLiteral("playerBar"));
    bar->setStyleSheet(QStringLiteral(
        "QToolButton { background: transparent; border: none; border-radius: 6px; padding: 4px; }"
        "QToolButton:hover { background: rgba(255, 255, 255, 0.08); }"));
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(8);
    m_playButton = barButton(Glyph::Play, QStringLiteral("Play (Space)"));
    m_fullButton = barButton(Glyph::FullScreen, QStringLiteral("Full screen (F)"));
    m_seek = new SeekSlider;
    m_seek->setObjectName(QStringLiteral("seekBar"));
    m_seek->setRange(0, 0);
    m_elapsed = new QLabel(fmtDuration(0));
    m_length = new QLabel(fmtDuration(0));
    for (QLabel* label : {m_elapsed, m_length}) {
        label->setObjectName(QStringLiteral("timeLabel"));
        label->setFont(Theme::mono(12));
    }
    row->addWidget(m_playButton);
    row->addWidget(m_elapsed);
    row->addWidget(m_seek, 1);
    row->addWidget(m_length);
    row->addWidget(m_fullButton);
    connect(m_playButton, &QToolButton::clicked, m_player, &MpvPlayer::togglePause);
    connect(m_fullButton, &QToolButton::clicked, this, [this] {
        m_fullScreen = !m_fullScreen;
        emit fullScreenRequested(m_fullScreen);
    });
    connect(m_seek, &QSlider::sliderPressed, this, [this] { m_scrubbing = true; });
    connect(m_seek, &QSlider::sliderMoved, this,
            [this](int ms) { m_player->seek(ms / 1000.0, false); });
    connect(m_seek, &QSlider::sliderReleased, this, [this] {
        m_scrubbing = false;
        m_player->seek(m_seek->value() / 1000.0, true);
    });
    return bar;
}

void PlayerView::setControlsVisible(bool visible) {
    m_bar->setVisible(visible);
}

void PlayerView::showPosition(double seconds) {
    m_elapsed->setText(fmtDuration(seconds));
    if (!m_scrubbing)
        m_seek->setValue(int(seconds * 1000));
}

void PlayerView::showDuration(double seconds) {
    m_length->setText(fmtDuration(seconds));
    m_seek->setRange(0, int(seconds * 1000));
}

void PlayerView::showPaused(bool paused) {
    m_playButton->setIcon(glyphIcon(paused ? Glyph::Play : Glyph::Pause, Theme::ink()));
    m_playButton->setToolTip(paused ? QStringLiteral("Play (Space)")
                                    : QStringLiteral("Pause (Space)"));
}

void PlayerView::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Space:
        m_player->togglePause();
        break;
    case Qt::Key_Left:
        m_player->seekBy(-kJumpSeconds);
        break;
    case Qt::Key_Right:
        m_player->seekBy(kJumpSeconds);
        break;
    case Qt::Key_F:
        m_fullScreen = !m_fullScreen;
        emit fullScreenRequested(m_fullScreen);
        break;
    case Qt::Key_Escape:
        if (!m_fullScreen)
            return QWidget::keyPressEvent(event);
        m_fullScreen = false;
        emit fullScreenRequested(false);
        break;
    default:
        return QWidget::keyPressEvent(event);
    }
    event->accept();
}

} // namespace vantel
