#include "WriterTestSupport.h"

#include "common/SyntheticMedia.h"

#include <QJsonDocument>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

namespace vantel::test {

void CollectingSink::hold() {
    std::lock_guard guard(m_lock);
    m_held = true;
}

void CollectingSink::release() {
    {
        std::lock_guard guard(m_lock);
        m_held = false;
    }
    m_released.notify_all();
}

void CollectingSink::onInitSegment(std::vector<uint8_t> bytes) {
    std::unique_lock guard(m_lock);
    m_released.wait(guard, [this] { return !m_held; });
    m_init = std::move(bytes);
    ++m_initCount;
}

void CollectingSink::onMediaSegment(std::vector<uint8_t> bytes,
                                    std::optional<media::SegmentTiming> timing) {
    std::lock_guard guard(m_lock);
    m_segments.push_back({std::move(bytes), timing});
}

std::vector<uint8_t> CollectingSink::init() const {
    std::lock_guard guard(m_lock);
    return m_init;
}

std::vector<ReceivedSegment> CollectingSink::segments() const {
    std::lock_guard guard(m_lock);
    return m_segments;
}

int CollectingSink::initCount() const {
    std::lock_guard guard(m_lock);
    return m_initCount;
}

namespace {

// Waits until `ready`; gives up when the writer stops writing or after 20 s.
template <typename Ready> bool waitFor(const media::SegmentWriter& w, Ready ready) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!ready()) {
        if (w.status() != media::SegmentWriter::Status::writing ||
            std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}

constexpr int kChunk = 480; // 10 ms

bool inGap(const FeedPlan& plan, double t) {
    return t >= plan.gapFrom && t < plan.gapTo;
}

bool feedAudioUntil(media::SegmentWriter& w, const FeedPlan& plan, double firstPts, double until,
                    int64_t& next, bool& repeated) {
    for (; double(next) * kChunk / 48000.0 < until; ++next) {
        double t = double(next) * kChunk / 48000.0;
        if (!waitFor(w, [&] { return w.audioReady(media::AudioTrack::game); }))
            return false;
        if (!inGap(plan, t))
            w.appendAudio(media::AudioTrack::game, makeTone(440, 2, kChunk, firstPts + t));
        if (!repeated && plan.repeatAt >= 0 && t >= plan.repeatAt) {
            repeated = true;
            w.appendAudio(media::AudioTrack::game, makeTone(440, 2, kChunk, firstPts + t - 0.1));
        }
        if (plan.mic && waitFor(w, [&] { return w.audioReady(media::AudioTrack::mic); })) {
            int frames = plan.micRate / 100;
            w.appendAudio(media::AudioTrack::mic,
                          makeTone(660, plan.micChannels, frames, firstPts + t, plan.micRate));
        }
    }
    return true;
}

} // namespace

bool feed(media::SegmentWriter& w, const FeedPlan& plan, double firstPts) {
    int total = int(plan.seconds * plan.fps);
    int64_t nextAudio = 0;
    bool repeated = false;
    for (int i = 0; i < total; ++i) {
        double t = double(i) / plan.fps;
        if (!feedAudioUntil(w, plan, firstPts, t + 1.0 / plan.fps, nextAudio, repeated))
            return false;
        int scale = plan.otherSizeFrom >= 0 && t >= plan.otherSizeFrom ? 2 : 1;
        if (!waitFor(w, [&] { return w.videoReady(); }))
            return false;
        w.appendVideo(makeFrame(plan.width * scale, plan.height * scale, i, firstPts + t));
    }
    return true;
}

void writeJoined(const std::filesystem::path& path, const CollectingSink& sink, size_t from,
                 size_t to) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    std::vector<uint8_t> init = sink.init();
    out.write(reinterpret_cast<const char*>(init.data()), std::streamsize(init.size()));
    std::vector<ReceivedSegment> segments = sink.segments();
    for (size_t i = from; i <= to && i < segments.size(); ++i)
        out.write(reinterpret_cast<const char*>(segments[i].bytes.data()),
                  std::streamsize(segments[i].bytes.size()));
}

QJsonObject probe(const std::filesystem::path& path) {
    std::string json =
        run("ffprobe -v error -show_format -show_streams -of json '" + path.string() + "'");
    return QJsonDocument::fromJson(QByteArray::fromStdString(json)).object();
}

std::vector<std::pair<double, bool>> videoPackets(const std::filesystem::path& path) {
    std::istringstream lines(run("ffprobe -v error -select_streams v:0 -show_entries "
                                 "packet=pts_time,flags -of csv=p=0 '" +
                                 path.string() + "'"));
    std::vector<std::pair<double, bool>> packets;
    std::string line;
    while (std::getline(lines, line)) {
        size_t comma = line.find(',');
        if (comma == std::string::npos)
            continue;
        packets.emplace_back(std::stod(line.substr(0, comma)),
                             line.find('K', comma) != std::string::npos);
    }
    return packets;
}

std::vector<float> decodeAudio(const std::filesystem::path& path, int index) {
    std::string command = "ffmpeg -v error -i '" + path.string() +
                          "' -map 0:a:" + std::to_string(index) +
                          " -ac 1 -ar 48000 -f f32le - 2>/dev/null";
    std::vector<float> samples;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return samples;
    float buffer[4096];
    size_t n = 0;
    while ((n = fread(buffer, sizeof(float), 4096, pipe)) > 0)
        samples.insert(samples.end(), buffer, buffer + n);
    pclose(pipe);
    return samples;
}

} // namespace vantel::test
