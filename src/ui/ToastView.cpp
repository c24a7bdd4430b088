#include "ui/ToastView.h"

#include "ui/Theme.h"

#include <QBitmap>
#include <QGridLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>

namespace vantel {

namespace {

constexpr int kBadgeSize = 26;

QColor problemRed() {
    return QColor(255, 69, 58, int(0.85 * 255));
}

QPainterPath panelPath(const QRectF& rect) {
    QPainterPath path;
    path.addRoundedRect(rect, ToastView::kRadius, ToastView::kRadius);
    return path;
}

QLabel* textLabel(const QFont& font, const QColor& colour) {
    auto* label = new QLabel;
    label->setFont(font);
    label->setTextFormat(Qt::PlainText);
    label->setStyleSheet(
        QStringLiteral("QLabel { color: %1; background: transparent; }").arg(Theme::css(colour)));
    return label;
}

QString elided(const QLabel* label, const QString& text) {
    return label->fontMetrics().elidedText(text, Qt::ElideRight, ToastView::kMaximumTextWidth);
}

} // namespace

// The round badge with its symbol, drawn as paths so that it looks the same with every font.
class ToastBadge : public QWidget {
public:
    explicit ToastBadge(QWidget* parent = nullptr)
        : QWidget(parent) {
        setFixedSize(kBadgeSize, kBadgeSize);
    }
    void setOk(bool ok) {
        m_ok = ok;
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(m_ok ? Theme::accent() : problemRed());
        p.drawEllipse(QRectF(rect()));
        p.setPen(QPen(Qt::black, 2.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(Qt::NoBrush);
        const qreal s = kBadgeSize;
        if (m_ok) {
            const QPointF mark[] = {
                {s * 0.31, s * 0.52}, {s * 0.44, s * 0.65}, {s * 0.70, s * 0.37}};
            p.drawPolyline(mark, 3);
        } else {
            p.drawLine(QPointF(s / 2, s * 0.29), QPointF(s / 2, s * 0.57));
            p.setPen(Qt::NoPen);
            p.setBrush(Qt::black);
            p.drawEllipse(QPointF(s / 2, s * 0.72), 1.6, 1.6);
        }
    }

private:
    bool m_ok = true;
};

ToastView::ToastView(QWidget* parent)
    : QWidget(parent, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                          Qt::WindowDoesNotAcceptFocus | Qt::WindowTransparentForInput |
                          Qt::NoDropShadowWindowHint)
    , m_badge(new ToastBadge)
    , m_title(textLabel(Theme::font(13, QFont::DemiBold), Theme::ink()))
    , m_detail(textLabel(Theme::font(11.5), Theme::muted())) {
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
    setWindowTitle(QStringLiteral("Vantel Record"));

    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(14, 11, 14, 11);
    grid->setHorizontalSpacing(12);
    grid->setVerticalSpacing(2);
    grid->addWidget(m_badge, 0, 0, 2, 1, Qt::AlignVCenter);
    grid->addWidget(m_title, 0, 1);
    grid->addWidget(m_detail, 1, 1);
    grid->setColumnStretch(1, 1);
}

void ToastView::setContent(const QString& title, const QString& detail, bool ok) {
    m_fullTitle = title;
    m_fullDetail = detail;
    m_ok = ok;
    m_badge->setOk(ok);
    m_title->setText(elided(m_title, title));
    m_detail->setText(elided(m_detail, detail));
    m_detail->setVisible(!detail.isEmpty());
    layout()->invalidate();
    const QSize natural = layout()->sizeHint();
    setFixedSize(qMax(kMinimumWidth, natural.width()), natural.height());
    update();
}

void ToastView::setComposited(bool composited) {
    if (composited == m_composited)
        return;
    m_composited = composited;
    updateMask();
    update();
}

QString ToastView::title() const {
    return m_fullTitle;
}

QString ToastView::detail() const {
    return m_fullDetail;
}

void ToastView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setCompositionMode(QPainter::CompositionMode_Source);
    p.fillRect(rect(), Qt::transparent);
    p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    QColor fill = Theme::bg();
    if (m_composited)
        fill.setAlphaF(0.94);
    // The border lies inside the edge: a 1-pixel line centred half a pixel in.
    const QRectF outer = QRectF(rect());
    p.setPen(Qt::NoPen);
    p.setBrush(fill);
    p.drawPath(panelPath(outer));
    p.setPen(QPen(Theme::line(), 1));
    p.setBrush(Qt::NoBrush);
    p.drawPath(panelPath(outer.adjusted(0.5, 0.5, -0.5, -0.5)));
}

void ToastView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    updateMask();
}

void ToastView::updateMask() {
    if (m_composited) {
        clearMask();
        return;
    }
    // Without a compositor the alpha channel is not blended: cut the corners off instead.
    QBitmap shape(size());
    shape.fill(Qt::color0);
    QPainter p(&shape);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::color1);
    p.drawPath(panelPath(QRectF(rect())));
    p.end();
    setMask(shape);
}

} // namespace vantel
