#include "ClipTopBar.h"

#include "Glyphs.h"
#include "RelativeDate.h"
#include "Theme.h"
#include "library/Clip.h"

#include <QBoxLayout>
#include <QLabel>
#include <QPushButton>

namespace vantel {

ClipTopBar::ClipTopBar(QWidget* parent)
    : QWidget(parent) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    auto* back =
        new QPushButton(glyphIcon(Glyph::ChevronLeft, Theme::muted()), QStringLiteral("Clips"));
    back->setObjectName(QStringLiteral("backButton"));
    back->setIconSize(QSize(16, 16));
    back->setCursor(Qt::PointingHandCursor);
    back->setFocusPolicy(Qt::TabFocus);
    back->setStyleSheet(
        QStringLiteral("QPushButton#backButton { background: transparent; border: none; color: %1; "
                       "padding: 4px 6px 4px 0; font-size: 13px; } QPushButton#backButton:hover { "
                       "color: %2; }")
            .arg(Theme::css(Theme::muted()), Theme::css(Theme::ink())));
    connect(back, &QPushButton::clicked, this, &ClipTopBar::back);
    m_line = new QLabel;
    m_line->setObjectName(QStringLiteral("topLine"));
    m_line->setFont(Theme::font(12));
    m_line->setProperty("muted", true);
    m_line->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    row->addWidget(back);
    row->addStretch(1);
    row->addWidget(m_line);
}

void ClipTopBar::showClip(const ClipMeta& meta) {
    QString text = meta.game + QStringLiteral(" · ") + shortDateTime(meta.created);
    if (meta.width > 0)
        text += QStringLiteral(" · %1p").arg(meta.height);
    m_line->setText(text);
}

} // namespace vantel
