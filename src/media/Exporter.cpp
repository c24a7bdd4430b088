// Export = one Mp4Output fed by two pumps on their own threads. Each pump opens the source for
// itself and reads only its own streams, so neither waits for the other and no packet queue is
// needed between a shared demuxer and the pumps; the muxer's interleaving (under the output's
// lock) puts the two streams in order in the file.

#include "Exporter.h"

#include "AudioMixer.h"
#include "MediaError.h"
#include "MediaProbe.h"
#include "Mp4Output.h"
#include "VideoPump.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <pthread.h>
#include <thread>

namespace vantel::media {

namespace {

constexpr double bitsPerPixel = 0.16;

int64_t computedBitrate(std::optional<double> frameRate, int width, int height) {
    double fps = frameRate.value_or(60.0);
    if (fps <= 30.0)
        fps = 30.0;
    return int64_t(fps * double(width) * double(height) * bitsPerPixel);
}

TimeRange keptRange(const MediaInfo& info, const ExportSettings& settings) {
    TimeRange kept{info.videoStart, info.videoEnd};
    if (settings.range) {
        kept.start = std::max(kept.start, settings.range->start);
        kept.end = std::min(kept.end, settings.range->end);
    }
    return kept;
}

// Runs the pumps on their own named threads. The first failure stops the other pump and is
// passed on once both have ended.
class PumpRunner {
public:
    void start(const char* name, std::function<void(const std::atomic<bool>&)> body) {
        m_threads.emplace_back([this, name, body = std::move(body)] {
            pthread_setname_np(pthread_self(), name);
            try {
                body(m_stop);
            } catch (...) {
                std::lock_guard lock(m_errorLock);
                if (!m_error)
                    m_error = std::current_exception();
                m_stop = true;
            }
        });
    }
    // Waits for every pump; rethrows the first failure.
    void finish() {
        for (std::thread& t : m_threads)
            t.join();
        m_threads.clear();
        if (m_error)
            std::rethrow_exception(m_error);
    }
    ~PumpRunner() {
        m_stop = true;
        for (std::thread& t : m_threads)
            t.join();
    }

private:
    std::vector<std::thread> m_threads;
    std::atomic<bool> m_stop{false};
    std::mutex m_errorLock; // guards m_error while pumps run; finish() reads it once all joined
    std::exception_ptr m_error;
};

} // namespace

ExportPlan planExport(int sourceWidth, int sourceHeight, bool sourceIsH264,
                      std::optional<double> frameRate, const ExportSettings& settings) {
    ExportPlan plan;
    plan.width = sourceWidth;
    plan.height = sourceHeight;
    if (settings.maxHeight && *settings.maxHeight < sourceHeight && sourceHeight > 0) {
        // H.264 4:2:0 needs even sides; a limit below 2 would leave no picture.
        plan.height = std::max(2, *settings.maxHeight & ~1);
        const double w = double(sourceWidth) * plan.height / sourceHeight;
        plan.width = std::max(2, int(w) & ~1);
    }
    plan.scaled = plan.height != sourceHeight;
    plan.reencode = (settings.forceH264 && !sourceIsH264) || plan.scaled;
    if (plan.reencode) {
        // The encoder takes 4:2:0 pictures with even sides only; an odd source loses a line.
        plan.width = std::max(2, plan.width & ~1);
        plan.height = std::max(2, plan.height & ~1);
        plan.bitrate = settings.bitrate ? *settings.bitrate
                                        : computedBitrate(frameRate, plan.width, plan.height);
    }
    return plan;
}

void exportClip(const std::filesystem::path& source, const std::filesystem::path& target,
                const ExportSettings& settings, const std::function<void(double)>& progress) {
    std::error_code ignored;
    std::filesystem::remove(target, ignored);
    const MediaInfo info = probeMedia(source);
    if (info.videoTracks == 0)
        throw MediaError(MediaError::Kind::noVideo, "the source has no video");
    const TimeRange kept = keptRange(info, settings);
    if (!(kept.end > kept.start))
        throw MediaError(MediaError::Kind::read, "the range lies outside the clip");
    const ExportPlan plan =
        planExport(info.width, info.height, info.videoCodec == "h264", info.frameRate, settings);

    Mp4Output out(target, Mp4Output::Existing::replace);
    VideoPump video(source, out, plan, kept, info.frameRate, progress);
    std::optional<AudioMixer> audio;
    if (info.audioTracks > 0)
        audio.emplace(source, out, kept, settings.gameVolume, settings.micVolume);
    out.writeHeader();

    PumpRunner pumps;
    pumps.start("record.export.v", [&](const std::atomic<bool>& stop) { video.run(stop); });
    if (audio)
        pumps.start("record.export.a", [&](const std::atomic<bool>& stop) { audio->run(stop); });
    pumps.finish();
    out.finish();
}

} // namespace vantel::media
