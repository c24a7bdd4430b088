#include "Screenshots.h"

#include <QDir>
#include <QWidget>

namespace vantel::test {

QString screenshotDir() {
    const QString dir = QStringLiteral(VANTEL_SCREENSHOT_DIR);
    QDir().mkpath(dir);
    return dir;
}

void saveShot(const QImage& image, const QString& name) {
    image.save(screenshotDir() + QLatin1Char('/') + name + QStringLiteral(".png"));
}

QImage saveWidgetShot(QWidget* widget, const QString& name) {
    const QImage image = widget->grab().toImage();
    saveShot(image, name);
    return image;
}

} // namespace vantel::test
