#pragma once

// Helpers for driving the real segmenting writer: a sink that keeps what it receives (and can
// hold the writer's thread on purpose), a feeder that paces synthetic samples by the writer's
// readiness, and ffmpeg/ffprobe runs on the produced files.

#include "common/Shell.h"
#include "media/SegmentWriter.h"

#include <QJsonObject>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

namespace vantel::test {

struct ReceivedSegment {
    std::vector<uint8_t> bytes;
    std::optional<media::SegmentTiming> timing;
};

class CollectingSink : public media::SegmentSink {
public:
    // While held, the writer's thread waits inside onInitSegment.
    void hold();
    void release();

    void onInitSegment(std::vector<uint8_t> bytes) override;
    void onMediaSegment(std::vector<uint8_t> bytes,
                        std::optional<media::SegmentTiming> timing) override;

    std::vector<uint8_t> init() const;
    std::vector<ReceivedSegment> segments() const;
    int initCount() const;

private:
    mutable std::mutex m_lock;
    std::condition_variable m_released;
    bool m_held = false;
    int m_initCount = 0;
    std::vector<uint8_t> m_init;
    std::vector<ReceivedSegment> m_segments;
};

// What to feed: video at `fps` for `seconds`, 10 ms audio chunks on both tracks. Audio of a
// track is skipped inside [gapFrom, gapTo) and starts at `audioFrom`.
struct FeedPlan {
    int width = 320;
    int height = 180;
    int fps = 30;
    double seconds = 4.0;
    bool mic = false;
    int micChannels = 1;
    int micRate = 48000;
    double gapFrom = -1.0;
    double gapTo = -1.0;
    double repeatAt = -1.0;      // also send, once, the game chunk that began 100 ms earlier
    double otherSizeFrom = -1.0; // from this time on, frames are twice the size
};

// Feeds `plan` starting at capture time `firstPts`, waiting for readiness; true when every
// sample was taken.
bool feed(media::SegmentWriter& writer, const FeedPlan& plan, double firstPts);

// Joins the init segment with segments [from, to] (inclusive, 0-based) into `path`.
void writeJoined(const std::filesystem::path& path, const CollectingSink& sink, size_t from,
                 size_t to);

// ffprobe's format and streams as JSON.
QJsonObject probe(const std::filesystem::path& path);
// Video packets of the file as (pts seconds, key frame).
std::vector<std::pair<double, bool>> videoPackets(const std::filesystem::path& path);
// Decodes audio track `index` to mono float samples at 48 kHz.
std::vector<float> decodeAudio(const std::filesystem::path& path, int index);

} // namespace vantel::test
