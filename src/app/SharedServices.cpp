#include "SharedServices.h"

#include "engine/Capture.h"
#include "engine/GameDetector.h"
#include "settings/Notifications.h"
#include "settings/Settings.h"

namespace vantel {

void SharedServices::wire(Settings& settings, Capture& capture, GameDetector& detector) {
    capture.setConfigProvider([&settings] { return settings.captureConfig(); });
    capture.setPermissionStore({[] { return Settings::screenCastToken(); },
                                [](const std::string& token) {
                                    Settings::setScreenCastToken(token);
                                }});
    detector.setExtraGamesProvider([] { return Settings::extraGames(); });
    Notifications::shared().observe(notification::extraGamesChanged, &detector,
                                    [&detector] { detector.scan(); });
}

void SharedServices::wireShared() {
    wire(Settings::shared(), Capture::shared(), GameDetector::shared());
}

} // namespace vantel
