#pragma once

// A one-line label that shortens its text in the middle when it does not fit ("/home/…/Clips")
// and shows the whole text as its tooltip.
//
// Thread: main thread.

#include <QLabel>

namespace vantel {

class ElidedLabel : public QLabel {
    Q_OBJECT
public:
    explicit ElidedLabel(QWidget* parent = nullptr);

    void setFullText(const QString& text);
    QString fullText() const { return m_full; }

    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void elide();

    QString m_full;
};

} // namespace vantel
