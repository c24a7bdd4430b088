#pragma once

// The recording choices the user makes (quality, codec, when to record) and the video bit-rate
// rule. Plain values with no dependencies: the settings store persists them, the capture
// controller and the replay buffer consume them.

#include <array>
#include <optional>
#include <string_view>

namespace vantel {

enum class Quality { standard, high, ultra };
enum class Codec { h264, hevc };
enum class CaptureMode { games, always };

inline constexpr std::array allQualities{Quality::standard, Quality::high, Quality::ultra};
inline constexpr std::array allCodecs{Codec::h264, Codec::hevc};
inline constexpr std::array allCaptureModes{CaptureMode::games, CaptureMode::always};

std::string_view rawValue(Quality q);
std::string_view rawValue(Codec c);
std::string_view rawValue(CaptureMode m);

// Exact, case-sensitive match of the raw value; anything else gives no value.
std::optional<Quality> qualityFromRaw(std::string_view raw);
std::optional<Codec> codecFromRaw(std::string_view raw);
std::optional<CaptureMode> captureModeFromRaw(std::string_view raw);

std::string_view label(Quality q);
std::string_view label(Codec c);
std::string_view label(CaptureMode m);

// Bits per pixel per frame.
double bpp(Quality q);

// Bits per second: width x height x fps x bpp, x 0.65 for HEVC, capped at 160,000,000.
double videoBitRate(double width, double height, double fps, Quality quality, Codec codec);

} // namespace vantel
