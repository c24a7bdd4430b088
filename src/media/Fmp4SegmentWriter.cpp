#include "Fmp4SegmentWriter.h"

#include "AudioTrackEncoder.h"
#include "FfmpegLog.h"
#include "FragmentMuxer.h"
#include "MediaError.h"
#include "VideoTrackEncoder.h"

#include <cmath>

namespace vantel::media {

namespace {

constexpr AVRational kVideoBase = VideoTrackEncoder::kTimeBase;
constexpr AVRational kAudioBase = AudioTrackEncoder::kTimeBase;
const int64_t kOffsetTicks = std::llround(Fmp4SegmentWriter::kTimelineOffset * kVideoBase.den);
// The audio hand-off holds at most this many samples per track: a second of sound.
constexpr int64_t kMaxQueuedSamples = AudioTrackEncoder::kSampleRate;

// Audio stamped further ahead of the newest frame is taken for a broken time stamp and dropped,
// instead of being placed behind seconds of generated silence.
constexpr double kMaxAudioLead = 5.0;

constexpr int64_t kGameBitRate = 256000;
constexpr int64_t kMicBitRate = 128000;

} // namespace

struct Fmp4SegmentWriter::Pending {
    std::unique_ptr<FragmentMuxer> muxer;
    std::unique_ptr<VideoTrackEncoder> video;
    std::unique_ptr<AudioTrackEncoder> audio[2]; // game, microphone (absent without it)
    int audioStream[2] = {-1, -1};
    std::deque<int64_t> cuts; // decode times (kVideoBase) of key frames that open a segment
    bool videoQueued = false;
    int64_t newestVideoTicks = 0;
    int64_t videoEndTicks = 0;
    double newestVideoPts = 0.0; // capture time of the newest frame taken
};

struct Fmp4SegmentWriter::FragmentOut {
    FragmentMuxer::Fragment fragment;
    AVRational timeBase;
};

Fmp4SegmentWriter::Fmp4SegmentWriter(const WriterConfig& config, SegmentSink& sink)
    : m_config(config)
    , m_sink(sink) {
    installFfmpegLog();
    // Opening the encoders takes tens of milliseconds; done on the first frame, it would cost the
    // capture thread the frames due meanwhile.
    try {
        open();
        m_initSegment = m_work->muxer->writeHeader();
    } catch (const MediaError& e) {
        m_work.reset();
        m_openError = e.what();
    }
}

Fmp4SegmentWriter::~Fmp4SegmentWriter() {
    if (!m_worker.joinable())
        return;
    {
        std::lock_guard guard(m_lock);
        m_abort = true;
    }
    m_wake.notify_all();
    m_worker.join();
}

bool Fmp4SegmentWriter::start(double firstPts) {
    if (m_status.load() != Status::idle)
        return false;
    if (!m_work) {
        fail(m_openError);
        return false;
    }
    m_firstPts = firstPts;
    m_work->newestVideoPts = firstPts;
    m_status = Status::writing;
    m_worker =
        std::thread([this, bytes = std::move(m_initSegment)]() mutable { run(std::move(bytes)); });
    return true;
}

void Fmp4SegmentWriter::open() {
    m_work = std::make_unique<Pending>();
    Pending& w = *m_work;
    w.video = std::make_unique<VideoTrackEncoder>(
        m_config, [this](PacketPtr p) { onVideoPacket(std::move(p)); });
    int micChannels = 1;
    for (size_t t = 0; t < 2; ++t) {
        if (t == 1 && !m_config.withMic)
            break;
        w.audio[t] = std::make_unique<AudioTrackEncoder>(
            t == 0 ? 2 : micChannels, t == 0 ? kGameBitRate : kMicBitRate, [this, t](PacketPtr p) {
                m_work->muxer->queue(std::move(p), m_work->audioStream[t], kAudioBase);
            });
    }
    w.muxer = std::make_unique<FragmentMuxer>();
    uint32_t tag = m_config.codec == VideoCodec::hevc ? MKTAG('h', 'v', 'c', '1') : 0;
    w.muxer->addStream(w.video->context(), nullptr, tag);
    w.audioStream[0] = w.muxer->addStream(w.audio[0]->context(), "und");
    if (w.audio[1])
        w.audioStream[1] = w.muxer->addStream(w.audio[1]->context(), nullptr);
}

bool Fmp4SegmentWriter::readyLocked() const {
    return m_status.load() == Status::writing && !m_input.finishing && !m_abort;
}

bool Fmp4SegmentWriter::videoReady() const {
    std::lock_guard guard(m_lock);
    return readyLocked() && !m_input.video;
}

bool Fmp4SegmentWriter::audioReady(AudioTrack track) const {
    if (track == AudioTrack::mic && !m_config.withMic)
        return false;
    std::lock_guard guard(m_lock);
    return readyLocked() && m_queuedSamples[trackIndex(track)] < kMaxQueuedSamples;
}

void Fmp4SegmentWriter::appendVideo(const VideoFrame& frame) {
    if (!frame.frame)
        return;
    {
        std::lock_guard guard(m_lock);
        if (!readyLocked() || m_input.video)
            return;
        FramePtr ref = makeFrame();
        if (!ref || av_frame_ref(ref.get(), frame.frame.get()) < 0)
            return;
        m_input.video = VideoFrame{std::move(ref), frame.pts};
    }
    m_wake.notify_one();
}

void Fmp4SegmentWriter::appendAudio(AudioTrack track, const AudioChunk& chunk) {
    if (track == AudioTrack::mic && !m_config.withMic)
        return;
    size_t t = trackIndex(track);
    {
        std::lock_guard guard(m_lock);
        if (!readyLocked() || m_queuedSamples[t] >= kMaxQueuedSamples)
            return;
        m_input.audio[t].push_back(chunk);
        m_queuedSamples[t] += chunk.frameCount();
    }
    m_wake.notify_one();
}

void Fmp4SegmentWriter::finish() {
    if (m_status.load() == Status::idle)
        m_status = Status::finished;
    if (!m_worker.joinable())
        return;
    {
        std::lock_guard guard(m_lock);
        m_input.finishing = true;
    }
    m_wake.notify_all();
    m_worker.join();
}

std::string Fmp4SegmentWriter::error() const {
    std::lock_guard guard(m_lock);
    return m_error;
}

void Fmp4SegmentWriter::fail(const std::string& message) {
    {
        std::lock_guard guard(m_lock);
        if (m_error.empty())
            m_error = message;
    }
    m_status = Status::failed;
}

void Fmp4SegmentWriter::run(std::vector<uint8_t> initSegment) {
    try {
        m_sink.onInitSegment(std::move(initSegment));
        Input input;
        while (takeInput(input)) {
            process(input);
            if (input.finishing) {
                drain();
                m_status = Status::finished;
                return;
            }
        }
    } catch (const std::exception& e) {
        // Also what the sink throws: the worker must end with a status, never terminate.
        fail(e.what());
    }
}

// Waits for samples, the end or an abort; moves the samples over. False on abort.
bool Fmp4SegmentWriter::takeInput(Input& input) {
    std::unique_lock guard(m_lock);
    m_wake.wait(guard, [this] {
        return m_abort || m_input.finishing || m_input.video || !m_input.audio[0].empty() ||
               !m_input.audio[1].empty();
    });
    if (m_abort)
        return false;
    input.video = std::move(m_input.video);
    m_input.video.reset();
    for (size_t t = 0; t < 2; ++t) {
        input.audio[t].clear();
        input.audio[t].swap(m_input.audio[t]);
        m_queuedSamples[t] = 0;
    }
    input.finishing = m_input.finishing;
    return true;
}

// Audio goes first, so that a key frame encoded now finds its audio already there.
void Fmp4SegmentWriter::process(Input& input) {
    Pending& w = *m_work;
    for (size_t t = 0; t < 2; ++t) {
        for (const AudioChunk& chunk : input.audio[t]) {
            if (!w.audio[t] || chunk.pts > w.newestVideoPts + kMaxAudioLead)
                continue;
            double at = (chunk.pts - m_firstPts) * AudioTrackEncoder::kSampleRate;
            w.audio[t]->push(chunk, std::llround(at));
        }
    }
    if (input.video) {
        w.newestVideoPts = std::max(w.newestVideoPts, input.video->pts);
        int64_t ticks = std::llround((input.video->pts - m_firstPts) * kVideoBase.den);
        if (ticks >= 0)
            w.video->encode(std::move(input.video->frame), ticks + kOffsetTicks);
        input.video.reset();
    }
    deliverReadyCuts(false);
}

void Fmp4SegmentWriter::onVideoPacket(PacketPtr packet) {
    Pending& w = *m_work;
    if ((packet->flags & AV_PKT_FLAG_KEY) && w.videoQueued)
        w.cuts.push_back(packet->dts);
    w.videoQueued = true;
    w.newestVideoTicks = packet->pts;
    w.videoEndTicks = packet->pts + packet->duration;
    w.muxer->queue(std::move(packet), 0, kVideoBase);
}

bool Fmp4SegmentWriter::audioReached(int64_t cutTicks) const {
    for (const auto& track : m_work->audio) {
        if (track && av_compare_ts(track->emittedUntil(), kAudioBase, cutTicks, kVideoBase) < 0)
            return false;
    }
    return true;
}

// Takes missing audio before the cut as silence; audio arriving for that time later is dropped.
void Fmp4SegmentWriter::padAudioTo(int64_t cutTicks) {
    for (const auto& track : m_work->audio) {
        while (track && av_compare_ts(track->emittedUntil(), kAudioBase, cutTicks, kVideoBase) < 0)
            track->padTo(track->queuedUntil() + track->context().frame_size);
    }
}

void Fmp4SegmentWriter::deliverReadyCuts(bool ending) {
    Pending& w = *m_work;
    const int64_t maxLag = std::llround(kMaxAudioLag * kVideoBase.den);
    while (!w.cuts.empty()) {
        int64_t cut = w.cuts.front();
        if (!audioReached(cut)) {
            if (!ending && w.newestVideoTicks - cut < maxLag)
                return;
            padAudioTo(cut);
        }
        w.cuts.pop_front();
        deliver({w.muxer->cut(cut, kVideoBase), w.muxer->streamTimeBase(0)});
    }
}

// Flushes the encoders, ends the audio with the video and delivers the last segments.
void Fmp4SegmentWriter::drain() {
    Pending& w = *m_work;
    w.video->flush();
    double videoEnd = double(w.videoEndTicks - kOffsetTicks) / kVideoBase.den;
    int64_t endSample = std::llround(videoEnd * AudioTrackEncoder::kSampleRate);
    for (const auto& track : w.audio) {
        if (track)
            track->finishAt(endSample);
    }
    deliverReadyCuts(true);
    deliver({w.muxer->cutAll(), w.muxer->streamTimeBase(0)});
    w.muxer->close();
}

// A fragment without video cannot start a segment (only audio past the last frame): dropped.
void Fmp4SegmentWriter::deliver(FragmentOut out) {
    FragmentMuxer::Fragment& f = out.fragment;
    if (f.bytes.empty() || !f.videoStart)
        return;
    {
        std::lock_guard guard(m_lock);
        if (m_abort)
            return;
    }
    SegmentTiming timing;
    timing.start = m_firstPts + double(*f.videoStart) * av_q2d(out.timeBase) - kTimelineOffset;
    timing.duration = double(f.videoDuration) * av_q2d(out.timeBase);
    m_sink.onMediaSegment(std::move(f.bytes), timing);
}

SegmentWriterFactory makeFmp4SegmentWriter() {
    return [](const WriterConfig& config, SegmentSink& sink) -> std::unique_ptr<SegmentWriter> {
        return std::make_unique<Fmp4SegmentWriter>(config, sink);
    };
}

} // namespace vantel::media
