#include "ui/StatusFooter.h"

#include "ui/Theme.h"

#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

namespace vantel {

namespace {
constexpr int kDot = 8;
constexpr int kDotRoom = kDot + 8;
} // namespace

StatusFooter::StatusFooter(QWidget* parent)
    : QWidget(parent)
    , m_line(new QLabel)
    , m_hint(new QLabel) {
    setObjectName(QStringLiteral("statusFooter"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(kDotRoom, 0, 0, 0);
    layout->setSpacing(3);
    m_line->setFont(Theme::font(12));
    m_line->setWordWrap(true);
    m_hint->setFont(Theme::font(11));
    m_hint->setProperty("muted", true);
    m_hint->setWordWrap(true);
    layout->addWidget(m_line);
    layout->addWidget(m_hint);
}

void StatusFooter::setStatus(bool recording, const QString& line) {
    m_recording = recording;
    m_line->setText(line);
    update();
}

void StatusFooter::setShortcut(const QString& shortcut) {
    m_hint->setText(QStringLiteral("%1 saves a clip").arg(shortcut));
}

QString StatusFooter::statusText() const {
    return m_line->text();
}

QString StatusFooter::hintText() const {
    return m_hint->text();
}

void StatusFooter::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(m_recording ? Theme::accent() : Theme::muted());
    const int y = m_line->geometry().center().y();
    painter.drawEllipse(QPointF(kDot / 2.0 + 1, y + 0.5), kDot / 2.0, kDot / 2.0);
}

} // namespace vantel
