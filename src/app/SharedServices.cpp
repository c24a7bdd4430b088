#include "SharedServices.h"

#include "Toast.h"
#include "engine/Capture.h"
#include "engine/GameDetector.h"
#include "library/Library.h"
#include "settings/Notifications.h"
#include "settings/Settings.h"

namespace vantel {

void SharedServices::wire(Settings& settings, Capture& capture, GameDetector& detector) {
    capture.setConfigProvider([&settings] { return settings.captureConfig(); });
    capture.setPermissionStore({[] { return Settings::screenCastToken(); },
                                [](const std::string& token) {
                                    Settings::setScreenCastToken(token);
                                }});
    detector.setExtraGamesProvider([&settings] { return settings.extraGames(); });
    QObject::connect(&settings.notifications(), &Notifications::extraGamesChanged, &detector,
                     [&detector] { detector.scan(); });
}

void SharedServices::wireShared() {
    wire(Settings::shared(), Capture::shared(), GameDetector::shared());
    // What the library has to tell the user (a damaged index, found as it starts) is a toast.
    QObject::connect(&Library::shared(), &Library::problem, &Toast::shared(),
                     [](const QString& title, const QString& detail) {
                         Toast::shared().show(title, detail, false);
                     });
}

} // namespace vantel
