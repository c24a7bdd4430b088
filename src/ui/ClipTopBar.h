#pragma once

// The top bar of the clip detail view: "Clips" to go back on the left, and on the right the
// clip's game, date and height ("Sky Racer · Today 14:02 · 1080p").
//
// Thread: main thread.

#include <QWidget>

class QLabel;

namespace vantel {

struct ClipMeta;

class ClipTopBar : public QWidget {
    Q_OBJECT
public:
    explicit ClipTopBar(QWidget* parent = nullptr);

    void showClip(const ClipMeta& meta);

signals:
    void back();

private:
    QLabel* m_line = nullptr;
};

} // namespace vantel
