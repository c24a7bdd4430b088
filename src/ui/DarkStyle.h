#pragma once

// The widget style under the application's style sheet: Fusion, with the few indicators a style
// sheet cannot draw without image files (check boxes, radio buttons, the combo box and spin box
// arrows) drawn in the theme's colours.
//
// Thread: the main (GUI) thread, like every QStyle.

#include <QProxyStyle>

namespace vantel {

class DarkStyle : public QProxyStyle {
public:
    DarkStyle();

    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget = nullptr) const override;

private:
    void drawCheck(const QStyleOption* option, QPainter* painter) const;
    void drawRadio(const QStyleOption* option, QPainter* painter) const;
    void drawArrow(PrimitiveElement element, const QStyleOption* option, QPainter* painter) const;
};

} // namespace vantel
