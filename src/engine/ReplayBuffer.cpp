#include "ReplayBuffer.h"

#include "OutputFile.h"
#include "RunFolder.h"
#include "media/Fmp4SegmentWriter.h"
#include "media/MediaSample.h"

#include <cinttypes>
#include <cstdio>
#include <numeric>

namespace fs = std::filesystem;

namespace vantel {

namespace {

constexpr double kRetentionMargin = 2.0;
constexpr const char* kEncoderFailed = "The encoder stopped.";

media::VideoCodec toVideoCodec(Codec codec) {
    return codec == Codec::hevc ? media::VideoCodec::hevc : media::VideoCodec::h264;
}

double durationOf(const std::deque<ReplayBuffer::Segment>& segments) {
    return std::accumulate(
        segments.begin(), segments.end(), 0.0,
        [](double sum, const ReplayBuffer::Segment& s) { return sum + s.duration; });
}

} // namespace

ReplayBuffer::ReplayBuffer(const Config& config, media::SegmentWriterFactory writerFactory)
    : m_width(config.width)
    , m_height(config.height)
    , m_withMic(config.withMic)
    , m_keepSeconds(config.keepSeconds) {
    const fs::path root = runRoot();
    RunFolder::removeStale(root);
    m_folder = std::make_shared<RunFolder>(root);
    m_dir = m_folder->path();

    media::WriterConfig writer;
    writer.width = config.width;
    writer.height = config.height;
    writer.fps = config.fps;
    writer.codec = toVideoCodec(config.codec);
    writer.videoBitRate =
        encoderBitRate(config.width, config.height, config.fps, config.quality, config.codec);
    writer.withMic = config.withMic;
    if (!writerFactory)
        writerFactory = media::makeFmp4SegmentWriter();
    try {
        m_writer = writerFactory(writer, *this);
    } catch (const std::exception& error) {
        // Reported like a writer that cannot start: through failed() at the first frame.
        m_writerUnavailable = error.what();
    }
    if (!m_writer && m_writerUnavailable.empty())
        m_writerUnavailable = "No video encoder is available.";
}

ReplayBuffer::~ReplayBuffer() {
    // The writer may still deliver from its own thread; stop it before the state it touches goes.
    m_writer.reset();
}

void ReplayBuffer::appendVideo(const media::VideoFrame& frame) {
    if (m_failed)
        return;
    if (m_writeFailed.load(std::memory_order_acquire)) {
        std::lock_guard guard(m_lock);
        m_failed = m_writeError;
        return;
    }
    if (!m_started && !startWriter(frame.pts))
        return;
    if (m_writer->videoReady())
        m_writer->appendVideo(frame);
    if (m_writer->status() == media::SegmentWriter::Status::failed)
        noteWriterFailure();
}

void ReplayBuffer::appendAudio(const media::AudioChunk& chunk, bool fromMic) {
    if (!m_started || m_failed)
        return;
    if (fromMic && !m_withMic)
        return;
    const media::AudioTrack track = fromMic ? media::AudioTrack::mic : media::AudioTrack::game;
    if (m_writer->audioReady(track))
        m_writer->appendAudio(track, chunk);
}

void ReplayBuffer::finish() {
    if (!m_started || m_writer->status() != media::SegmentWriter::Status::writing)
        return;
    m_finishing = true;
    m_writer->finish();
}

void ReplayBuffer::discard() {
    std::vector<EndedRun> earlier;
    {
        std::lock_guard guard(m_lock);
        earlier.swap(m_earlier);
    }
    discardRuns(earlier);
    if (m_folder)
        m_folder->remove();
}

std::vector<ReplayBuffer::EndedRun> ReplayBuffer::handOver() {
    std::lock_guard guard(m_lock);
    std::vector<EndedRun> runs = std::move(m_earlier);
    m_earlier.clear();
    if (m_initSegment && !m_segments.empty() && m_folder)
        runs.push_back({*m_initSegment, m_segments, std::move(m_folder)});
    return runs;
}

void ReplayBuffer::keepEarlierRuns(std::vector<EndedRun> runs) {
    std::vector<EndedRun> empty;
    std::vector<EndedRun> kept;
    for (EndedRun& run : runs)
        (run.segments.empty() ? empty : kept).push_back(std::move(run));
    discardRuns(empty);
    std::lock_guard guard(m_lock);
    m_earlier = std::move(kept);
}

void ReplayBuffer::discardRuns(std::vector<EndedRun>& runs) noexcept {
    for (EndedRun& run : runs)
        if (run.folder)
            run.folder->remove();
    runs.clear();
}

std::optional<std::string> ReplayBuffer::failed() const {
    return m_failed;
}

std::vector<ReplayBuffer::Segment> ReplayBuffer::segments() const {
    std::lock_guard guard(m_lock);
    return {m_segments.begin(), m_segments.end()};
}

fs::path ReplayBuffer::runRoot() {
    return RunFolder::defaultRoot();
}

int64_t ReplayBuffer::encoderBitRate(int width, int height, int fps, Quality quality, Codec codec) {
    // In doubles the pixel count is exact far beyond any real display, and a count too large for
    // any integer still lands on the cap.
    return int64_t(videoBitRate(width, height, fps, quality, codec));
}

bool ReplayBuffer::startWriter(double firstPts) {
    if (!m_writer) {
        m_failed = m_writerUnavailable;
        return false;
    }
    if (!m_writer->start(firstPts)) {
        noteWriterFailure();
        return false;
    }
    m_started = true;
    return true;
}

void ReplayBuffer::noteWriterFailure() {
    std::string error = m_writer->error();
    m_failed = error.empty() ? kEncoderFailed : std::move(error);
}

void ReplayBuffer::onInitSegment(std::vector<uint8_t> bytes) {
    std::lock_guard guard(m_lock);
    m_initSegment = std::move(bytes);
}

void ReplayBuffer::onMediaSegment(std::vector<uint8_t> bytes,
                                  std::optional<media::SegmentTiming> timing) {
    Segment segment{{}, 0.0, 1.0};
    if (timing) {
        segment.start = timing->start;
        segment.duration = timing->duration;
    }
    segment.url = segmentPath(++m_seq);
    // After a lost segment the run has a hole: nothing later is listed, and the run fails.
    if (m_writeFailed.load(std::memory_order_relaxed))
        return;
    try {
        OutputFile file(segment.url, OutputFile::Mode::replace);
        file.write(bytes.data(), bytes.size());
        file.commit();
    } catch (const fs::filesystem_error& error) {
        noteWriteFailure(segment.url, error.code());
        return; // its number stays used
    }
    segment.written = m_finishing.load(std::memory_order_relaxed) ? segment.start + segment.duration
                                                                  : media::captureClockNow();
    Expired expired = fileSegment(std::move(segment));
    remove(expired);
}

void ReplayBuffer::noteWriteFailure(const Path& file, const std::error_code& error) {
    {
        std::lock_guard guard(m_lock);
        m_writeError = "Can't write the recording to " + file.parent_path().parent_path().string() +
                       ": " + error.message() + ".";
    }
    m_writeFailed.store(true, std::memory_order_release);
}

ReplayBuffer::Expired ReplayBuffer::fileSegment(Segment segment) {
    Expired expired;
    std::lock_guard guard(m_lock);
    m_segments.push_back(std::move(segment));
    double total = durationOf(m_segments);
    for (const EndedRun& run : m_earlier)
        total += durationOf(run.segments);
    trimEarlier(total, expired);
    while (m_earlier.empty() && !m_segments.empty() &&
           total - m_segments.front().duration >= m_keepSeconds + kRetentionMargin) {
        total -= m_segments.front().duration;
        expired.files.push_back(std::move(m_segments.front().url));
        m_segments.pop_front();
    }
    return expired;
}

// The earlier runs lose their oldest segments first; an emptied run goes with its folder.
void ReplayBuffer::trimEarlier(double& total, Expired& expired) {
    while (!m_earlier.empty()) {
        EndedRun& oldest = m_earlier.front();
        if (!oldest.segments.empty() &&
            total - oldest.segments.front().duration < m_keepSeconds + kRetentionMargin)
            return;
        if (!oldest.segments.empty()) {
            total -= oldest.segments.front().duration;
            expired.files.push_back(std::move(oldest.segments.front().url));
            oldest.segments.pop_front();
        }
        if (oldest.segments.empty()) {
            expired.folders.push_back(std::move(oldest.folder));
            m_earlier.erase(m_earlier.begin());
        }
    }
}

void ReplayBuffer::remove(Expired& expired) {
    for (const fs::path& file : expired.files) {
        std::error_code ignored;
        fs::remove(file, ignored);
    }
    for (const std::shared_ptr<RunFolder>& folder : expired.folders)
        if (folder)
            folder->remove();
    expired.folders.clear(); // releases their locks
}

fs::path ReplayBuffer::segmentPath(int64_t seq) const {
    char name[32];
    std::snprintf(name, sizeof name, "%08" PRId64 ".m4s", seq);
    return m_dir / name;
}

} // namespace vantel
