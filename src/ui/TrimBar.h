#pragma once

// The trim control under the player: a bar over the clip's length with an in handle and an out
// handle, the chosen range highlighted and the play position marked; under it the in, out and
// length times and the buttons "Cancel" and "Trim".
//
// While a handle is dragged the bar reports each new time (handleDragged), so that the player
// can show the frame there. A press on the bar outside the handles asks to seek there. The
// handles keep at least kMinLength apart (or the whole clip, when it is shorter).
//
// Thread: main thread.

#include <QWidget>

class QLabel;
class QPushButton;

namespace vantel {

class TrimBar : public QWidget {
    Q_OBJECT
public:
    static constexpr double kMinLength = 0.5;

    explicit TrimBar(QWidget* parent = nullptr);

    void setDuration(double seconds);
    void setRange(double in, double out);
    void setPosition(double seconds);
    double in() const { return m_in; }
    double out() const { return m_out; }
    double duration() const { return m_duration; }

    // Where a handle sits, in widget coordinates (for tests and for dragging).
    int xOf(double seconds) const;
    double timeAt(int x) const;

    QSize sizeHint() const override;

signals:
    void rangeChanged(double in, double out);
    void handleDragged(double seconds);
    void seekRequested(double seconds);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    enum class Drag { None, In, Out };
    QRect track() const;
    double minLength() const;
    void dragTo(int x);

    double m_duration = 0.0;
    double m_in = 0.0;
    double m_out = 0.0;
    double m_position = 0.0;
    Drag m_drag = Drag::None;
};

// The bar with its times and buttons, as shown while trimming.
class TrimPanel : public QWidget {
    Q_OBJECT
public:
    explicit TrimPanel(QWidget* parent = nullptr);

    TrimBar* bar() const { return m_bar; }
    QPushButton* confirmButton() const { return m_confirm; }
    QPushButton* cancelButton() const { return m_cancel; }
    // "In 0:03.2", "Out 0:12.0", "Length 0:08.8" as shown.
    QString timesText() const;

signals:
    void confirmed(double in, double out);
    void cancelled();

private:
    void showTimes();

    TrimBar* m_bar;
    QLabel* m_times;
    QPushButton* m_cancel;
    QPushButton* m_confirm;
};

// Clock text with tenths of a second: "0:03.2", "1:02:05.0".
QString fmtPrecise(double seconds);

} // namespace vantel
