#include "ui/ClipCardDelegate.h"

#include "ui/ClipListModel.h"
#include "ui/Glyphs.h"
#include "ui/RelativeDate.h"
#include "ui/Theme.h"

#include <QPainter>
#include <algorithm>

namespace vantel {

namespace {

constexpr int kPad = 8;      // around the picture inside the card
constexpr int kTextPad = 12; // left and right of the text lines
constexpr int kTitleHeight = 20;
constexpr int kMetaHeight = 16;
constexpr qreal kCardRadius = 12;

QFont titleFont() {
    return Theme::font(14, QFont::DemiBold);
}

QFont metaFont() {
    return Theme::font(11.5);
}

} // namespace

QString ClipCardDelegate::cantPlayText() {
    return QStringLiteral("Can't be played");
}

ClipCardDelegate::ClipCardDelegate(QObject* parent)
    : QStyledItemDelegate(parent) {}

void ClipCardDelegate::setCardWidth(int width) {
    m_width = width;
}

QSize ClipCardDelegate::pictureSize() const {
    const int width = m_width - 2 * kPad;
    return {width, width * 9 / 16};
}

QSize ClipCardDelegate::cardSize() const {
    return {m_width, kPad + pictureSize().height() + 10 + kTitleHeight + 2 + kMetaHeight + 12};
}

QSize ClipCardDelegate::sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const {
    return cellSize();
}

QRect ClipCardDelegate::pictureRect(const QRect& card) const {
    return {card.topLeft() + QPoint(kPad, kPad), pictureSize()};
}

void ClipCardDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                             const QModelIndex& index) const {
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    const QRect card(option.rect.topLeft(), cardSize());
    const bool hover = option.state & QStyle::State_MouseOver;
    QColor border = hover ? QColor(255, 255, 255, 77) : Theme::line();
    painter->setPen(QPen(border, 1));
    painter->setBrush(Theme::panel());
    painter->drawRoundedRect(QRectF(card).adjusted(0.5, 0.5, -0.5, -0.5), kCardRadius, kCardRadius);
    const QRect picture = pictureRect(card);
    const Clip clip = index.data(ClipListModel::ClipRole).value<Clip>();
    if (clip.playback == Playback::unplayable) {
        paintUnplayable(painter, picture);
    } else {
        paintPicture(painter, picture, index);
        // A length not read yet is no length: "0:00" would pass for a clip.
        if (clip.playback == Playback::playable)
            paintBadge(painter, picture, clip.meta.duration);
    }
    paintText(painter, card, index);
    painter->restore();
}

void ClipCardDelegate::paintPicture(QPainter* painter, const QRect& area,
                                    const QModelIndex& index) const {
    const QImage image = index.data(ClipListModel::PictureRole).value<QImage>();
    if (!image.isNull()) {
        if (image.deviceIndependentSize().toSize() == area.size())
            painter->drawImage(area.topLeft(), image);
        else
            painter->drawImage(QRectF(area), image); // made for an earlier size, until remade
        return;
    }
    painter->setPen(Qt::NoPen);
    painter->setBrush(QColor(28, 28, 31));
    painter->drawRoundedRect(QRectF(area), kPictureRadius, kPictureRadius);
    const QIcon play = glyphIcon(Glyph::Play, QColor(255, 255, 255, 40));
    const int side = std::min(area.height() / 3, 40);
    play.paint(painter, QRect(area.center() - QPoint(side / 2, side / 2), QSize(side, side)));
}

void ClipCardDelegate::paintUnplayable(QPainter* painter, const QRect& area) const {
    painter->setPen(QPen(QColor(255, 255, 255, 18), 1));
    painter->setBrush(QColor(22, 22, 25));
    painter->drawRoundedRect(QRectF(area).adjusted(0.5, 0.5, -0.5, -0.5), kPictureRadius,
                             kPictureRadius);
    const QFont font = Theme::font(12, QFont::DemiBold);
    const QFontMetrics metrics(font);
    const int side = std::clamp(area.height() / 4, 18, 30);
    const int gap = 8;
    const int top = area.center().y() - (side + gap + metrics.height()) / 2;
    glyphIcon(Glyph::NoPlay, Theme::muted())
        .paint(painter, QRect(area.center().x() - side / 2, top, side, side));
    painter->setFont(font);
    painter->setPen(Theme::muted());
    painter->drawText(QRect(area.left(), top + side + gap, area.width(), metrics.height()),
                      Qt::AlignHCenter | Qt::AlignVCenter, cantPlayText());
}

void ClipCardDelegate::paintBadge(QPainter* painter, const QRect& area, double seconds) const {
    const QString text = fmtDuration(seconds);
    const QFont font = Theme::mono(11);
    const QFontMetrics metrics(font);
    const QSize size(metrics.horizontalAdvance(text) + 12, metrics.height() + 4);
    const QRect badge(area.right() - 8 - size.width() + 1, area.bottom() - 8 - size.height() + 1,
                      size.width(), size.height());
    painter->setPen(Qt::NoPen);
    painter->setBrush(QColor(0, 0, 0, 180));
    painter->drawRoundedRect(badge, 5, 5);
    painter->setFont(font);
    painter->setPen(Theme::ink());
    painter->drawText(badge, Qt::AlignCenter, text);
}

void ClipCardDelegate::paintText(QPainter* painter, const QRect& card,
                                 const QModelIndex& index) const {
    const Clip clip = index.data(ClipListModel::ClipRole).value<Clip>();
    const QRect picture = pictureRect(card);
    const int left = card.left() + kTextPad;
    const int width = card.width() - 2 * kTextPad;
    QRect title(left, picture.bottom() + 11, width, kTitleHeight);
    const bool shared = clip.meta.shareURL.has_value();
    const int linkSide = 14;
    const QFontMetrics titleMetrics(titleFont());
    const QString titleText = titleMetrics.elidedText(clip.meta.title, Qt::ElideRight,
                                                      width - (shared ? linkSide + 6 : 0));
    painter->setFont(titleFont());
    painter->setPen(Theme::ink());
    painter->drawText(title, Qt::AlignLeft | Qt::AlignVCenter, titleText);
    if (shared) {
        const int x = left + titleMetrics.horizontalAdvance(titleText) + 6;
        glyphIcon(Glyph::Link, Theme::accent())
            .paint(painter, QRect(x, title.center().y() - linkSide / 2 + 1, linkSide, linkSide));
    }
    const QString meta = clip.meta.game + QStringLiteral(" · ") +
                         relativeDate(clip.meta.created, QDateTime::currentDateTimeUtc());
    const QRect line(left, title.bottom() + 3, width, kMetaHeight);
    painter->setFont(metaFont());
    painter->setPen(Theme::muted());
    painter->drawText(line, Qt::AlignLeft | Qt::AlignVCenter,
                      QFontMetrics(metaFont()).elidedText(meta, Qt::ElideRight, width));
}

} // namespace vantel
