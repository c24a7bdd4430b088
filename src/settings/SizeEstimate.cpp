#include "SizeEstimate.h"

#include <array>
#include <cstdio>

namespace vantel {

namespace {
constexpr double kFallbackScreenHeight = 1080.0;
} // namespace

SizeEstimate::SizeEstimate(int maxHeight, int fps, Quality quality, Codec codec,
                           std::optional<double> mainScreenHeight) {
    const double height = maxHeight != 0 ? static_cast<double>(maxHeight)
                                         : mainScreenHeight.value_or(kFallbackScreenHeight);
    const double width = height * 16.0 / 9.0;
    m_bitRate = videoBitRate(width, height, fps, quality, codec);
}

double SizeEstimate::megabitsPerSecond() const {
    return m_bitRate / 1'000'000.0;
}

double SizeEstimate::megabytesPerMinute() const {
    return m_bitRate * 60.0 * 0.125 / 1'000'000.0;
}

QString SizeEstimate::text() const {
    std::array<char, 256> buffer{};
    std::snprintf(buffer.data(), buffer.size(),
                  "About %.0f Mbps. A one minute clip is about %.0f MB. The replay is kept on "
                  "disk, not in memory.",
                  megabitsPerSecond(), megabytesPerMinute());
    return QString::fromUtf8(buffer.data());
}

} // namespace vantel
