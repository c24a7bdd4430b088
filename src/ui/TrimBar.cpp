#include "ui/TrimBar.h"

#include "ui/Theme.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>
#include <cmath>

namespace vantel {

namespace {
constexpr int kHandle = 12; // handle width
constexpr int kHeight = 44;
} // namespace

QString fmtPrecise(double seconds) {
    const long long tenths = std::llround(std::max(0.0, seconds) * 10);
    const long long whole = tenths / 10;
    const QString fraction = QStringLiteral(".%1").arg(tenths % 10);
    if (whole < 3600)
        return QString::asprintf("%lld:%02lld", whole / 60, whole % 60) + fraction;
    return QString::asprintf("%lld:%02lld:%02lld", whole / 3600, (whole / 60) % 60, whole % 60) +
           fraction;
}

TrimBar::TrimBar(QWidget* parent)
    : QWidget(parent) {
    setObjectName(QStringLiteral("trimBar"));
    setMinimumHeight(kHeight);
    setCursor(Qt::PointingHandCursor);
}

QSize TrimBar::sizeHint() const {
    return {400, kHeight};
}

void TrimBar::setDuration(double seconds) {
    m_duration = std::max(0.0, seconds);
    setRange(m_in, m_out > 0 ? std::min(m_out, m_duration) : m_duration);
}

void TrimBar::setRange(double in, double out) {
    const double length = minLength();
    out = std::clamp(out, length, std::max(length, m_duration));
    in = std::clamp(in, 0.0, out - length);
    if (in == m_in && out == m_out)
        return;
    m_in = in;
    m_out = out;
    update();
    emit rangeChanged(m_in, m_out);
}

void TrimBar::setPosition(double seconds) {
    m_position = seconds;
    update();
}

double TrimBar::minLength() const {
    return std::min(kMinLength, m_duration);
}

QRect TrimBar::track() const {
    return rect().adjusted(kHandle, 4, -kHandle, -4);
}

int TrimBar::xOf(double seconds) const {
    const QRect t = track();
    if (m_duration <= 0)
        return t.left();
    return t.left() + int(std::lround(seconds / m_duration * t.width()));
}

double TrimBar::timeAt(int x) const {
    const QRect t = track();
    if (t.width() <= 0)
        return 0.0;
    return std::clamp(double(x - t.left()) / t.width(), 0.0, 1.0) * m_duration;
}

void TrimBar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRect t = track();
    painter.setPen(Qt::NoPen);
    painter.setBrush(Theme::panel());
    painter.drawRoundedRect(t, 6, 6);
    const int left = xOf(m_in);
    const int right = xOf(m_out);
    QColor chosen = Theme::accent();
    chosen.setAlpha(40);
    painter.setBrush(chosen);
    painter.drawRect(QRect(left, t.top(), right - left, t.height()));
    painter.setPen(QPen(Theme::accent(), 2));
    painter.drawLine(left, t.top() + 1, right, t.top() + 1);
    painter.drawLine(left, t.bottom(), right, t.bottom());
    painter.setPen(Qt::NoPen);
    painter.setBrush(Theme::accent());
    const QRectF inHandle(left - kHandle, t.top() - 3, kHandle, t.height() + 6);
    const QRectF outHandle(right, t.top() - 3, kHandle, t.height() + 6);
    painter.drawRoundedRect(inHandle, 4, 4);
    painter.drawRoundedRect(outHandle, 4, 4);
    painter.setPen(QPen(QColor(0, 0, 0, 150), 2, Qt::SolidLine, Qt::RoundCap));
    for (const QRectF& handle : {inHandle, outHandle})
        painter.drawLine(QPointF(handle.center().x(), handle.center().y() - 6),
                         QPointF(handle.center().x(), handle.center().y() + 6));
    const int at = xOf(std::clamp(m_position, 0.0, m_duration));
    painter.setPen(QPen(Theme::ink(), 2));
    painter.drawLine(at, t.top() + 3, at, t.bottom() - 3);
}

void TrimBar::mousePressEvent(QMouseEvent* event) {
    const int x = int(event->position().x());
    const int left = xOf(m_in);
    const int right = xOf(m_out);
    if (x >= left - kHandle && x <= left + kHandle / 3)
        m_drag = Drag::In;
    else if (x >= right - kHandle / 3 && x <= right + kHandle)
        m_drag = Drag::Out;
    else
        emit seekRequested(timeAt(x));
    if (m_drag != Drag::None)
        dragTo(x);
}

void TrimBar::mouseMoveEvent(QMouseEvent* event) {
    if (m_drag != Drag::None)
        dragTo(int(event->position().x()));
}

void TrimBar::mouseReleaseEvent(QMouseEvent*) {
    m_drag = Drag::None;
}

void TrimBar::dragTo(int x) {
    // Grabbed at its inner edge: the in handle lies left of its time, the out handle right.
    const double time = timeAt(m_drag == Drag::In ? x + kHandle / 2 : x - kHandle / 2);
    if (m_drag == Drag::In) {
        setRange(time, m_out);
        emit handleDragged(m_in);
    } else {
        setRange(m_in, time);
        emit handleDragged(m_out);
    }
}

TrimPanel::TrimPanel(QWidget* parent)
    : QWidget(parent)
    , m_bar(new TrimBar)
    , m_times(new QLabel)
    , m_cancel(new QPushButton(QStringLiteral("Cancel")))
    , m_confirm(new QPushButton(QStringLiteral("Trim"))) {
    setObjectName(QStringLiteral("trimPanel"));
    m_confirm->setObjectName(QStringLiteral("trimConfirm"));
    m_cancel->setObjectName(QStringLiteral("trimCancel"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    layout->addWidget(m_bar);
    auto* row = new QHBoxLayout;
    row->setSpacing(10);
    m_times->setFont(Theme::mono(12));
    m_times->setProperty("muted", true);
    row->addWidget(m_times, 1);
    Accent::apply(m_confirm);
    for (QPushButton* button : {m_cancel, m_confirm}) {
        button->setFocusPolicy(Qt::TabFocus);
        row->addWidget(button);
    }
    layout->addLayout(row);
    connect(m_bar, &TrimBar::rangeChanged, this, &TrimPanel::showTimes);
    connect(m_cancel, &QPushButton::clicked, this, &TrimPanel::cancelled);
    connect(m_confirm, &QPushButton::clicked, this,
            [this] { emit confirmed(m_bar->in(), m_bar->out()); });
    showTimes();
}

QString TrimPanel::timesText() const {
    return m_times->text();
}

void TrimPanel::showTimes() {
    m_times->setText(QStringLiteral("In %1    Out %2    Length %3")
                         .arg(fmtPrecise(m_bar->in()), fmtPrecise(m_bar->out()),
                              fmtPrecise(m_bar->out() - m_bar->in())));
}

} // namespace vantel
