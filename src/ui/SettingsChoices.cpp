#include "SettingsChoices.h"

#include "settings/Settings.h"
#include "settings/SizeEstimate.h"

#include <QGuiApplication>
#include <QScreen>

namespace vantel::SettingsChoices {

const std::vector<int>& replayLengths() {
    static const std::vector<int> values{15, 30, 60, 120, 300};
    return values;
}

const std::vector<int>& resolutions() {
    static const std::vector<int> values{0, 2160, 1440, 1080, 720};
    return values;
}

const std::vector<int>& frameRates() {
    static const std::vector<int> values{30, 60, 120};
    return values;
}

QString replayLengthLabel(int seconds) {
    if (seconds < 60)
        return QStringLiteral("%1 seconds").arg(seconds);
    const int minutes = seconds / 60;
    return QStringLiteral("%1 minute%2").arg(minutes).arg(seconds == 60 ? "" : "s");
}

QString resolutionLabel(int height) {
    return height == 0 ? QStringLiteral("Native") : QStringLiteral("%1p").arg(height);
}

QString frameRateLabel(int fps) {
    return QStringLiteral("%1 fps").arg(fps);
}

std::optional<double> mainScreenHeight() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return std::nullopt;
    return screen->geometry().height() * screen->devicePixelRatio();
}

QString estimateText(const Settings& settings, std::optional<double> screenHeight) {
    return SizeEstimate(settings.maxHeight(), settings.fps(), settings.quality(), settings.codec(),
                        screenHeight)
        .text();
}

} // namespace vantel::SettingsChoices
