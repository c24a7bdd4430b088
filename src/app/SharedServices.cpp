#include "SharedServices.h"

#include "engine/Capture.h"
#include "engine/GameDetector.h"
#include "settings/Notifications.h"
#include "settings/Settings.h"

namespace vantel {

void SharedServices::wire(Settings& settings, Capture& capture, GameDetector& detector) {
    capture.setConfigProvider([&settings] { return settings.captureConfig(); });
    capture.setCurrentGameProvider([&detector] { return detector.current(); });
    capture.setPermissionStore({[] { return Settings::screenCastToken(); },
                                [](const std::string& token) {
                                    Settings::setScreenCastToken(token);
                                }});
    detector.setExtraGamesProvider([&settings] { return settings.extraGames(); });
    QObject::connect(&settings.notifications(), &Notifications::extraGamesChanged, &detector,
                     [&detector] { detector.scan(); });
}

} // namespace vantel
