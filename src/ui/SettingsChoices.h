#pragma once

// The values the settings window offers for the recording options, with their labels, and the
// size-estimate line printed under them. The store itself accepts any value; these lists are
// what a user can pick.

#include "engine/RecordingOptions.h"

#include <QString>
#include <optional>
#include <utility>
#include <vector>

namespace vantel {

class Settings;

namespace SettingsChoices {

// Seconds: 15, 30, 60, 120, 300.
const std::vector<int>& replayLengths();
// 0 (the display's own size), 2160, 1440, 1080, 720.
const std::vector<int>& resolutions();
// 30, 60, 120.
const std::vector<int>& frameRates();

// "15 seconds", "1 minute", "2 minutes": whole minutes from 60 seconds up (integer division),
// seconds below.
QString replayLengthLabel(int seconds);
// "Native" for 0, else "1080p".
QString resolutionLabel(int height);
// "60 fps".
QString frameRateLabel(int fps);

// The height of the primary screen in device pixels (frame height times its scale factor), or
// no value when there is no screen. Main thread (it asks the GUI application).
std::optional<double> mainScreenHeight();

// "About 40 Mbps. A one minute clip is about 299 MB. ..." for the options of `settings`, with
// "Native" measured on `screenHeight` (1080 when absent).
QString estimateText(const Settings& settings, std::optional<double> screenHeight);

} // namespace SettingsChoices

} // namespace vantel
