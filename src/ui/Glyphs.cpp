#include "ui/Glyphs.h"

#include <QHash>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace vantel {

namespace {

// Each symbol is drawn in a 24 x 24 box with round 2-unit strokes.
void drawPlay(QPainter& p) {
    QPainterPath path;
    path.moveTo(8, 5);
    path.lineTo(19, 12);
    path.lineTo(8, 19);
    path.closeSubpath();
    p.setBrush(p.pen().color());
    p.drawPath(path);
}

void drawPause(QPainter& p) {
    p.setBrush(p.pen().color());
    p.drawRoundedRect(QRectF(7, 5, 3, 14), 1, 1);
    p.drawRoundedRect(QRectF(14, 5, 3, 14), 1, 1);
}

void drawFullScreen(QPainter& p) {
    const QPointF corners[][3] = {{{4, 9}, {4, 4}, {9, 4}},
                                  {{15, 4}, {20, 4}, {20, 9}},
                                  {{20, 15}, {20, 20}, {15, 20}},
                                  {{9, 20}, {4, 20}, {4, 15}}};
    for (const auto& corner : corners)
        p.drawPolyline(corner, 3);
}

void drawChevronLeft(QPainter& p) {
    const QPointF points[] = {{15, 5}, {8, 12}, {15, 19}};
    p.drawPolyline(points, 3);
}

void drawScissors(QPainter& p) {
    p.drawEllipse(QPointF(7, 17), 3, 3);
    p.drawEllipse(QPointF(17, 17), 3, 3);
    p.drawLine(QPointF(9, 15), QPointF(18, 4));
    p.drawLine(QPointF(15, 15), QPointF(6, 4));
}

void drawLink(QPainter& p) {
    p.save();
    p.translate(12, 12);
    p.rotate(-45);
    p.drawRoundedRect(QRectF(-10, -3.5, 10, 7), 3.5, 3.5);
    p.drawRoundedRect(QRectF(0, -3.5, 10, 7), 3.5, 3.5);
    p.restore();
}

void drawPerson(QPainter& p) {
    p.drawEllipse(QPointF(12, 8), 4, 4);
    QPainterPath body;
    body.moveTo(4, 21);
    body.cubicTo(4, 15, 20, 15, 20, 21);
    p.drawPath(body);
}

void drawArrowUp(QPainter& p) {
    p.drawLine(QPointF(12, 20), QPointF(12, 5));
    const QPointF head[] = {{6, 11}, {12, 5}, {18, 11}};
    p.drawPolyline(head, 3);
}

void drawTrash(QPainter& p) {
    p.drawLine(QPointF(4, 6), QPointF(20, 6));
    p.drawLine(QPointF(10, 6), QPointF(10, 3.5));
    p.drawLine(QPointF(10, 3.5), QPointF(14, 3.5));
    p.drawLine(QPointF(14, 3.5), QPointF(14, 6));
    QPainterPath can;
    can.moveTo(6, 6);
    can.lineTo(7, 20);
    can.lineTo(17, 20);
    can.lineTo(18, 6);
    p.drawPath(can);
    p.drawLine(QPointF(10, 10), QPointF(10, 16));
    p.drawLine(QPointF(14, 10), QPointF(14, 16));
}

void drawFolder(QPainter& p) {
    QPainterPath path;
    path.moveTo(3, 7);
    path.lineTo(3, 19);
    path.lineTo(21, 19);
    path.lineTo(21, 9);
    path.lineTo(12, 9);
    path.lineTo(10, 6);
    path.lineTo(3, 6);
    path.closeSubpath();
    p.drawPath(path);
}

void drawNoPlay(QPainter& p) {
    const QPointF triangle[] = {{8.5, 6}, {18.5, 12}, {8.5, 18}, {8.5, 6}};
    p.drawPolyline(triangle, 4);
    p.drawLine(QPointF(4, 4), QPointF(20, 20));
}

void draw(Glyph glyph, QPainter& p) {
    switch (glyph) {
    case Glyph::Play:
        return drawPlay(p);
    case Glyph::Pause:
        return drawPause(p);
    case Glyph::FullScreen:
        return drawFullScreen(p);
    case Glyph::ChevronLeft:
        return drawChevronLeft(p);
    case Glyph::Scissors:
        return drawScissors(p);
    case Glyph::Link:
        return drawLink(p);
    case Glyph::Person:
        return drawPerson(p);
    case Glyph::ArrowUp:
        return drawArrowUp(p);
    case Glyph::Trash:
        return drawTrash(p);
    case Glyph::Folder:
        return drawFolder(p);
    case Glyph::NoPlay:
        return drawNoPlay(p);
    }
}

QPixmap render(Glyph glyph, const QColor& color, int side) {
    QPixmap pixmap(side, side);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(side / 24.0, side / 24.0);
    painter.setPen(QPen(color, 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    draw(glyph, painter);
    return pixmap;
}

} // namespace

QIcon glyphIcon(Glyph glyph, const QColor& color) {
    // Cards paint their symbols on every repaint: draw each one once.
    static QHash<quint64, QIcon> made;
    const quint64 key = (quint64(glyph) << 32) | color.rgba();
    if (auto found = made.constFind(key); found != made.constEnd())
        return *found;
    QIcon icon;
    for (int side : {16, 24, 32, 48})
        icon.addPixmap(render(glyph, color, side));
    made.insert(key, icon);
    return icon;
}

} // namespace vantel
