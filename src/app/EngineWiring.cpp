#include "EngineWiring.h"

#include "engine/CaptureController.h"
#include "engine/GameDetector.h"
#include "settings/Notifications.h"
#include "settings/Settings.h"

namespace vantel {

void EngineWiring::wire(Settings& settings, CaptureController& capture, GameDetector& detector) {
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
