#pragma once

// The status footer under the sidebar: a small dot (accent while recording, muted otherwise)
// beside the application's status line, and under it the save shortcut + " saves a clip".
// The application feeds it (setStatus, setShortcut); it reads nothing by itself.
//
// Thread: main thread.

#include <QWidget>

class QLabel;

namespace vantel {

class StatusFooter : public QWidget {
    Q_OBJECT
public:
    explicit StatusFooter(QWidget* parent = nullptr);

    void setStatus(bool recording, const QString& line);
    // The shortcut's display text, for example "Alt+Shift+C".
    void setShortcut(const QString& shortcut);

    bool recording() const { return m_recording; }
    QString statusText() const;
    QString hintText() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QLabel* m_line;
    QLabel* m_hint;
    bool m_recording = false;
};

} // namespace vantel
