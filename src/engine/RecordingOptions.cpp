#include "RecordingOptions.h"

namespace vantel {

namespace {
constexpr double kMaxVideoBitRate = 160'000'000.0;
constexpr double kHevcFactor = 0.65;
} // namespace

std::string_view rawValue(Quality q) {
    switch (q) {
    case Quality::standard:
        return "standard";
    case Quality::high:
        return "high";
    case Quality::ultra:
        return "ultra";
    }
    return "high";
}

std::string_view rawValue(Codec c) {
    return c == Codec::hevc ? "hevc" : "h264";
}

std::string_view rawValue(CaptureMode m) {
    return m == CaptureMode::always ? "always" : "games";
}

std::optional<Quality> qualityFromRaw(std::string_view raw) {
    for (Quality q : allQualities) {
        if (rawValue(q) == raw)
            return q;
    }
    return std::nullopt;
}

std::optional<Codec> codecFromRaw(std::string_view raw) {
    for (Codec c : allCodecs) {
        if (rawValue(c) == raw)
            return c;
    }
    return std::nullopt;
}

std::optional<CaptureMode> captureModeFromRaw(std::string_view raw) {
    for (CaptureMode m : allCaptureModes) {
        if (rawValue(m) == raw)
            return m;
    }
    return std::nullopt;
}

std::string_view label(Quality q) {
    switch (q) {
    case Quality::standard:
        return "Standard";
    case Quality::high:
        return "High";
    case Quality::ultra:
        return "Ultra";
    }
    return "High";
}

std::string_view label(Codec c) {
    return c == Codec::hevc ? "HEVC (smaller files)" : "H.264 (plays everywhere)";
}

std::string_view label(CaptureMode m) {
    return m == CaptureMode::always ? "Always" : "Only while a game is open";
}

double bpp(Quality q) {
    switch (q) {
    case Quality::standard:
        return 0.1;
    case Quality::high:
        return 0.18;
    case Quality::ultra:
        return 0.3;
    }
    return 0.18;
}

double videoBitRate(double width, double height, double fps, Quality quality, Codec codec) {
    double rate = width * height * fps * bpp(quality);
    if (codec == Codec::hevc)
        rate *= kHevcFactor;
    return rate > kMaxVideoBitRate ? kMaxVideoBitRate : rate;
}

} // namespace vantel
