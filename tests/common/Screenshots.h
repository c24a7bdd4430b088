#pragma once

// Screenshots that tests leave for a person to look at, under build/screenshots/.

#include <QImage>
#include <QString>

class QWidget;

namespace vantel::test {

// The folder, created on first use.
QString screenshotDir();
// Renders `widget` (shown or not) and saves it as NAME.png; returns the image.
QImage saveWidgetShot(QWidget* widget, const QString& name);
// Saves an image as NAME.png.
void saveShot(const QImage& image, const QString& name);

} // namespace vantel::test
