#include "ClipCantPlayPanel.h"

#include "ClipCardDelegate.h"
#include "Glyphs.h"
#include "Theme.h"

#include <QBoxLayout>
#include <QLabel>

namespace vantel {

ClipCantPlayPanel::ClipCantPlayPanel(QWidget* parent)
    : QFrame(parent) {
    setObjectName(QStringLiteral("cantPlay"));
    setStyleSheet(QStringLiteral("QFrame#cantPlay { background: %1; border: 1px solid %2; "
                                 "border-radius: 10px; }")
                      .arg(Theme::css(QColor(22, 22, 25)), Theme::css(Theme::line())));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(40, 40, 40, 40);
    column->setSpacing(10);
    auto* symbol = new QLabel;
    symbol->setPixmap(glyphIcon(Glyph::NoPlay, Theme::muted()).pixmap(QSize(44, 44)));
    symbol->setAlignment(Qt::AlignCenter);
    auto* heading = new QLabel(ClipCardDelegate::cantPlayText());
    heading->setObjectName(QStringLiteral("cantPlayHeading"));
    heading->setFont(Theme::font(17, QFont::DemiBold));
    heading->setAlignment(Qt::AlignCenter);
    auto* why = new QLabel(QStringLiteral(
        "This file doesn't open as a video. It may be damaged, cut short by a copy that broke "
        "off, or not a video at all. You can still show it in its folder or move it to the "
        "Trash."));
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
}

} // namespace vantel
