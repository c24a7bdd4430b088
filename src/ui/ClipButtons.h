#pragma once

// The buttons of the clip detail view: the accent button for the one main action of a row, and
// plain ones beside it, both reached by Tab but not taking focus on a click.
//
// Thread: main thread.

#include "Glyphs.h"

#include <QString>
#include <optional>

class QPushButton;
class QToolButton;

namespace vantel::ClipButtons {

QPushButton* primary(const QString& text, Glyph glyph);
QPushButton* plain(const QString& text, std::optional<Glyph> glyph = std::nullopt);
// An icon-only button with `glyph`, explained by `tip`.
QToolButton* icon(Glyph glyph, const QString& tip);

} // namespace vantel::ClipButtons
