#pragma once

// An on/off switch drawn as a pill with a sliding knob: a checkable button with the usual
// toggled() signal, keyboard focus and Space to flip it. Disabled, it shows its state dimmed
// and cannot be flipped.
//
// Thread: main thread.

#include <QAbstractButton>

namespace vantel {

class ToggleSwitch : public QAbstractButton {
    Q_OBJECT
public:
    explicit ToggleSwitch(QWidget* parent = nullptr);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace vantel
