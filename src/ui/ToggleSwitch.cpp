#include "ToggleSwitch.h"

#include "SettingsStyle.h"
#include "Theme.h"

#include <QPainter>

namespace vantel {

ToggleSwitch::ToggleSwitch(QWidget* parent)
    : QAbstractButton(parent) {
    setCheckable(true);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize ToggleSwitch::sizeHint() const {
    return {38, 22};
}

void ToggleSwitch::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF track = QRectF(rect()).adjusted(1, 1, -1, -1);
    const qreal radius = track.height() / 2;
    p.setOpacity(isEnabled() ? 1.0 : 0.4);
    p.setPen(hasFocus() ? QPen(Theme::accent(), 1.5) : QPen(Theme::line(), 1));
    p.setBrush(isChecked() ? Theme::accent() : SettingsStyle::trackOff());
    p.drawRoundedRect(track, radius, radius);
    const qreal knob = track.height() - 4;
    const qreal x = isChecked() ? track.right() - 2 - knob : track.left() + 2;
    p.setPen(Qt::NoPen);
    p.setBrush(isChecked() ? Theme::bg() : Theme::ink());
    p.drawEllipse(QRectF(x, track.top() + 2, knob, knob));
}

} // namespace vantel
