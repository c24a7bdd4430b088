#pragma once

// What the clip detail view shows in place of the player for a file that cannot be played:
// "Can't be played" with a word on why, and what the user can still do.
//
// Thread: main thread.

#include <QFrame>

namespace vantel {

class ClipCantPlayPanel : public QFrame {
    Q_OBJECT
public:
    explicit ClipCantPlayPanel(QWidget* parent = nullptr);
};

} // namespace vantel
