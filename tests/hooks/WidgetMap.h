#pragma once

// Where the controls of a window are on the screen, written to a file for the end-to-end tests,
// which drive the running program from outside with the pointer and keyboard (xdotool), as a
// person does. The test build of the program keeps one of the Clips window when
// VANTEL_WIDGET_MAP names the file (TestHooks).
//
// The file is replaced whole whenever what it says changes, checked every 100 ms while the
// window lives. First the window, then one line per shown widget in it that has an object name:
//   window <x> <y> <width> <height>          global coordinates, device-independent pixels
//   <name> <x> <y> <width> <height>
// and for what is not a widget of its own:
//   <slider name>.handle <x> <y> <w> <h>     the handle of a named slider
//   trimBar.in|out <x> <y> 1 1               where a person grabs the trim handles
//   trimBar.track <x> <y> <w> <h>            the time axis: 0 at its left, the end at its right
//   card <x> <y> <w> <h> <path>              each clip card on screen, in grid order
//   action <x> <y> <w> <h> <text>            each item of an open context menu
//
// Thread: main thread.

#include <QObject>
#include <QString>
#include <QTimer>

class QWidget;

namespace vantel {

class WidgetMap : public QObject {
public:
    // Keeps a map of `window` in the file at `path`, as the window's child.
    WidgetMap(QWidget* window, QString path);

private:
    QString describe() const;
    void write();

    QWidget* m_window;
    QString m_path;
    QString m_written;
    QTimer m_timer;
};

} // namespace vantel
