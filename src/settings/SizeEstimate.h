#pragma once

// The bit rate and file size the recording options lead to, in the words the settings window
// prints under them. Pure arithmetic over the bit-rate rule; the caller supplies the main
// screen's height because only it knows the screens.

#include "engine/RecordingOptions.h"

#include <QString>
#include <optional>

namespace vantel {

class SizeEstimate {
public:
    // maxHeight 0 means the display's own size: then mainScreenHeight, in device pixels (frame
    // height times scale factor), or 1080 when there is no main screen. The width is 16:9 of the
    // height, unrounded.
    SizeEstimate(int maxHeight, int fps, Quality quality, Codec codec,
                 std::optional<double> mainScreenHeight = std::nullopt);

    // Bits per second, capped as the encoder is.
    double bitRate() const { return m_bitRate; }
    double megabitsPerSecond() const;
    double megabytesPerMinute() const;

    // "About 40 Mbps. A one minute clip is about 299 MB. The replay is kept on disk, not in
    // memory."
    QString text() const;

private:
    double m_bitRate;
};

} // namespace vantel
