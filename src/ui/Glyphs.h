#pragma once

// The small line symbols of the library window, drawn with QPainter so that they look the same
// on every desktop whatever icon theme it has (or none, as on a bare X server).
//
// Thread: main thread (the symbols are drawn into pixmaps).

#include <QColor>
#include <QIcon>

namespace vantel {

enum class Glyph {
    Play,
    Pause,
    FullScreen,
    ChevronLeft,
    Scissors,
    Link,
    Person,
    ArrowUp,
    Trash,
    Folder,
    NoPlay, // the play triangle struck through: a file that cannot be played
};

// The symbol in `color`, sharp at 1x and 2x.
QIcon glyphIcon(Glyph glyph, const QColor& color);

} // namespace vantel
