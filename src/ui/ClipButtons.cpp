#include "ClipButtons.h"

#include "Theme.h"

#include <QPushButton>
#include <QToolButton>

namespace vantel::ClipButtons {

QPushButton* primary(const QString& text, Glyph glyph) {
    auto* button = new QPushButton(glyphIcon(glyph, QColor(0, 0, 0)), text);
    Accent::apply(button);
    button->setIconSize(QSize(15, 15));
    button->setFocusPolicy(Qt::TabFocus);
    return button;
}

QPushButton* plain(const QString& text, std::optional<Glyph> glyph) {
    auto* button = new QPushButton(text);
    if (glyph) {
        button->setIcon(glyphIcon(*glyph, Theme::ink()));
        button->setIconSize(QSize(15, 15));
    }
    button->setFocusPolicy(Qt::TabFocus);
    button->setCursor(Qt::PointingHandCursor);
    return button;
}

QToolButton* icon(Glyph glyph, const QString& tip) {
    auto* button = new QToolButton;
    button->setIcon(glyphIcon(glyph, Theme::ink()));
    button->setIconSize(QSize(16, 16));
    button->setToolTip(tip);
    button->setCursor(Qt::PointingHandCursor);
    button->setFocusPolicy(Qt::TabFocus);
    return button;
}

} // namespace vantel::ClipButtons
