#include "WindowFactory.h"

#include "WelcomeWindow.h"

namespace vantel {

QWidget* createWindowContent(const QString& id) {
    if (id == QLatin1String("welcome"))
        return new WelcomeWindow;
    return new QWidget;
}

} // namespace vantel
