#pragma once

// The toast's window and content: a badge (an accent check mark for a success, a red
// exclamation mark for a problem), a title and a detail line on a dark rounded panel.
//
// The window is a Qt::ToolTip window (override-redirect on X11, so no window manager frame
// takes clicks), frameless, above other windows, never focused and transparent for input. It
// always has an alpha channel; setComposited() chooses how the rounded corners are made: by
// transparency where a compositor blends windows, else by a window mask over a solid panel, so
// that no black corners show.
//
// Thread: main thread only.

#include <QWidget>

class QLabel;

namespace vantel {

class ToastBadge;

class ToastView : public QWidget {
    Q_OBJECT
public:
    explicit ToastView(QWidget* parent = nullptr);

    // Replaces the content and resizes the window to its natural size: at least 230 pixels
    // wide, wider for longer texts up to a limit beyond which texts are cut with "…".
    void setContent(const QString& title, const QString& detail, bool ok);
    // True: translucent panel, corners left to the compositor. False: opaque panel clipped by
    // a rounded window mask.
    void setComposited(bool composited);

    QString title() const;
    QString detail() const;
    bool ok() const { return m_ok; }
    bool composited() const { return m_composited; }

    static constexpr int kMinimumWidth = 230;
    static constexpr int kMaximumTextWidth = 420;
    static constexpr qreal kRadius = 12;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void updateMask();

    ToastBadge* m_badge;
    QLabel* m_title;
    QLabel* m_detail;
    QString m_fullTitle;
    QString m_fullDetail;
    bool m_ok = true;
    bool m_composited = true;
};

} // namespace vantel
