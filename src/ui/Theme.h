#pragma once

// The one dark look every window and the toast share: six colours, the monospaced font, the
// primary button style, and two small text helpers.
//
// Sizes given to these helpers are device-independent pixels (what a 1x screen shows as one
// pixel); fonts are made from them so that text keeps its proportions to the layout.
//
// Thread: everything here belongs to the main (GUI) thread, except fmtDuration, which is pure.

#include <QColor>
#include <QFont>
#include <QPalette>
#include <QString>

class QAbstractButton;
class QWidget;

namespace vantel {

class Theme {
public:
    Theme() = delete;

    // The colours, each made once on first use.
    static const QColor& bg();     // window and toast background, 11 11 12
    static const QColor& panel();  // raised areas, 19 19 21
    static const QColor& ink();    // primary text, 237 237 239
    static const QColor& muted();  // secondary text, 138 138 144
    static const QColor& line();   // dividers and borders, white at 8 %
    static const QColor& accent(); // highlights, check marks, primary buttons, 212 255 63

    // The system's monospaced font at `pixelSize`.
    static QFont mono(qreal pixelSize);
    // The system's interface font at `pixelSize` and `weight`.
    static QFont font(qreal pixelSize, QFont::Weight weight = QFont::Normal);

    // The dark palette built from the colours above.
    static QPalette palette();
    // The style sheet that draws inputs, lists, menus, scroll bars and secondary buttons dark.
    static QString styleSheet();

    // Installs the look for the whole application once: DarkStyle (Fusion, which honours the
    // palette everywhere, with dark indicators), the palette and the style sheet, so that dialogs
    // and the tray menu match the windows. Later calls do nothing. Needs a QApplication.
    static void installLook();
    // What every window of the program calls in its constructor: installs the look and paints
    // the window's background with bg().
    static void styleWindow(QWidget* window);

    // "rgba(r, g, b, a)" for use in style sheets.
    static QString css(const QColor& colour);
};

// The style of primary actions: black semibold label on an accent-coloured rounded button, at
// 75 % opacity while pressed. Applied to an existing button; the button keeps its other
// properties (default, auto-default, shortcut).
class Accent {
public:
    Accent() = delete;
    static void apply(QAbstractButton* button);
    // The name of the dynamic property apply() sets (true), for tests and style sheets.
    static constexpr const char* property = "vantelAccent";
};

// Clock text of a length in seconds, rounded to the nearest second (halves away from zero):
// "M:SS" below an hour, "H:MM:SS" from an hour on. Negative lengths get a leading "-" before the
// clock text of their magnitude; a value that is not a finite number, or beyond what 64 bits
// hold, gives "--:--".
QString fmtDuration(double seconds);

// Puts `text` on the clipboard as plain text, replacing what was there. On X11 this process owns
// the clipboard from then on and answers other programs' requests while it runs; the text goes
// away when the program ends unless a clipboard manager took a copy.
void copyText(const QString& text);

} // namespace vantel
