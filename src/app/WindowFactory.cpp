#include "WindowFactory.h"

#include "WelcomeWindow.h"
#include "ui/SettingsWindow.h"

namespace vantel {

QWidget* createWindowContent(const QString& id) {
    if (id == QLatin1String("welcome"))
        return new WelcomeWindow;
    if (id == QLatin1String("settings"))
        return new SettingsWindow;
    return new QWidget;
}

} // namespace vantel
