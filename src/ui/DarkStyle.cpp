#include "ui/DarkStyle.h"

#include "ui/Theme.h"

#include <QPainter>
#include <QPainterPath>
#include <QStyleFactory>
#include <QStyleOption>

namespace vantel {

namespace {

QColor boxBorder(const QStyleOption* option) {
    if (!(option->state & QStyle::State_Enabled))
        return QColor(255, 255, 255, 20);
    if (option->state & QStyle::State_MouseOver)
        return Theme::accent().darker(130);
    return QColor(255, 255, 255, 46);
}

bool isOn(const QStyleOption* option) {
    return option->state & (QStyle::State_On | QStyle::State_NoChange);
}

} // namespace

DarkStyle::DarkStyle()
    : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion"))) {}

void DarkStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option,
                              QPainter* painter, const QWidget* widget) const {
    switch (element) {
    case PE_IndicatorCheckBox:
        drawCheck(option, painter);
        return;
    case PE_IndicatorRadioButton:
        drawRadio(option, painter);
        return;
    case PE_IndicatorArrowDown:
    case PE_IndicatorArrowUp:
    case PE_IndicatorArrowLeft:
    case PE_IndicatorArrowRight:
        drawArrow(element, option, painter);
        return;
    default:
        QProxyStyle::drawPrimitive(element, option, painter, widget);
    }
}

void DarkStyle::drawCheck(const QStyleOption* option, QPainter* painter) const {
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    const QRectF box = QRectF(option->rect).adjusted(0.5, 0.5, -0.5, -0.5);
    const bool on = isOn(option);
    const bool enabled = option->state & State_Enabled;
    QColor fill = on ? Theme::accent() : Theme::panel();
    if (on && !enabled)
        fill.setAlpha(90);
    painter->setPen(QPen(on ? fill : boxBorder(option), 1));
    painter->setBrush(fill);
    painter->drawRoundedRect(box, 4, 4);
    if (on) {
        painter->setPen(QPen(Qt::black, 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        const qreal w = box.width(), h = box.height();
        QPainterPath mark;
        if (option->state & State_NoChange) {
            mark.moveTo(box.left() + w * 0.28, box.center().y());
            mark.lineTo(box.right() - w * 0.28, box.center().y());
        } else {
            mark.moveTo(box.left() + w * 0.25, box.top() + h * 0.52);
            mark.lineTo(box.left() + w * 0.43, box.top() + h * 0.70);
            mark.lineTo(box.left() + w * 0.76, box.top() + h * 0.32);
        }
        painter->setBrush(Qt::NoBrush);
        painter->drawPath(mark);
    }
    painter->restore();
}

void DarkStyle::drawRadio(const QStyleOption* option, QPainter* painter) const {
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    const QRectF box = QRectF(option->rect).adjusted(0.5, 0.5, -0.5, -0.5);
    const bool on = isOn(option);
    painter->setPen(QPen(on ? Theme::accent() : boxBorder(option), 1));
    painter->setBrush(on ? Theme::accent() : Theme::panel());
    painter->drawEllipse(box);
    if (on) {
        painter->setPen(Qt::NoPen);
        painter->setBrush(Qt::black);
        const qreal r = box.width() * 0.2;
        painter->drawEllipse(box.center(), r, r);
    }
    painter->restore();
}

void DarkStyle::drawArrow(PrimitiveElement element, const QStyleOption* option,
                          QPainter* painter) const {
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    const bool enabled = option->state & State_Enabled;
    painter->setPen(QPen(enabled ? Theme::ink() : Theme::muted(), 1.5, Qt::SolidLine, Qt::RoundCap,
                         Qt::RoundJoin));
    const QPointF c = QRectF(option->rect).center();
    const qreal s = qMin(option->rect.width(), option->rect.height()) / 4.0 + 0.5;
    QPolygonF chevron;
    switch (element) {
    case PE_IndicatorArrowUp:
        chevron << c + QPointF(-s, s / 2) << c + QPointF(0, -s / 2) << c + QPointF(s, s / 2);
        break;
    case PE_IndicatorArrowLeft:
        chevron << c + QPointF(s / 2, -s) << c + QPointF(-s / 2, 0) << c + QPointF(s / 2, s);
        break;
    case PE_IndicatorArrowRight:
        chevron << c + QPointF(-s / 2, -s) << c + QPointF(s / 2, 0) << c + QPointF(-s / 2, s);
        break;
    default:
        chevron << c + QPointF(-s, -s / 2) << c + QPointF(0, s / 2) << c + QPointF(s, -s / 2);
    }
    painter->drawPolyline(chevron);
    painter->restore();
}

} // namespace vantel
