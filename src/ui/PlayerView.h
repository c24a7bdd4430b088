#pragma once

// The clip player of the detail view: the video surface and, under it, a bar with play/pause,
// the elapsed time, a seek bar, the length and the full-screen button.
//
// Keys while the player or its bar has the focus: Space plays or pauses, Left and Right jump
// 5 seconds, F asks for full screen and Esc leaves it. The window decides what full screen
// means (fullScreenRequested); the player only asks.
//
// Thread: main thread.

#include <QSlider>
#include <QWidget>

class QLabel;
class QToolButton;

namespace vantel {

class MpvPlayer;

// A seek bar that jumps to the pressed point at once instead of paging towards it.
class SeekSlider : public QSlider {
    Q_OBJECT
public:
    explicit SeekSlider(QWidget* parent = nullptr);

protected:
    void mousePressEvent(QMouseEvent* event) override;
};

class PlayerView : public QWidget {
    Q_OBJECT
public:
    explicit PlayerView(QWidget* parent = nullptr);

    MpvPlayer* player() const { return m_player; }
    // The bar under the video; the trim control takes its place while trimming.
    void setControlsVisible(bool visible);

signals:
    void fullScreenRequested(bool on);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    QWidget* makeBar();
    void showPosition(double seconds);
    void showDuration(double seconds);
    void showPaused(bool paused);

    MpvPlayer* m_player;
    QWidget* m_bar = nullptr;
    QToolButton* m_playButton = nullptr;
    QToolButton* m_fullButton = nullptr;
    SeekSlider* m_seek = nullptr;
    QLabel* m_elapsed = nullptr;
    QLabel* m_length = nullptr;
    bool m_scrubbing = false;
    bool m_fullScreen = false;
};

} // namespace vantel
