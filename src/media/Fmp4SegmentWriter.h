#pragma once

// The real segmenting encoder: H.264 (libx264) or HEVC (libx265) video and AAC audio (the game
// track, stereo 256 kb/s, language "und"; the microphone track, mono 128 kb/s, when asked for),
// muxed as fragmented MP4 in memory. Track order: video, game, microphone.
//
// Segments: the initialisation segment (ftyp+moov) comes first; then every video key frame,
// once a second, begins a media segment of one moof+mdat. Each fragment carries its base decode
// time, so the initialisation segment followed by any run of consecutive media segments plays.
// A segment's SegmentTiming is the time of its first video frame on the capture clock and the
// length of its video.
//
// Timeline: the capture time t of a sample appears in the written file at
// t - firstPts + kTimelineOffset. The offset equals the AAC encoder's priming delay, so no
// track starts before zero and audio and video stay aligned; a joined file that begins with a
// segment starting at capture time s therefore starts (ffprobe start_time) at
// s - firstPts + kTimelineOffset. Only the run's first frame differs: the muxer writes it at 0
// and lengthens it by the offset, because a fragment cannot express a delayed start.
//
// Opening: the constructor opens the encoders and the muxer, so that start() on the capture
// thread only begins the timeline; an encoder that cannot be opened fails start().
//
// Threads: start(), videoReady(), audioReady(), appendVideo() and appendAudio() come from the
// capture thread and only hand samples over under m_lock, never waiting for the encoder. Video
// has a single pending slot: a frame arriving while the slot is full is refused (videoReady() is
// false) and the caller drops it. Audio has a small bounded hand-off per track. Encoding, muxing
// and delivery to the SegmentSink happen on the writer's own worker thread, one segment at a
// time, in order. finish() (any other thread, after the last append) drains everything and
// returns once the last segment has been delivered. Destroying a writer without finish() stops
// the worker without delivering anything more.
//
// Errors: when an encoder or the muxer fails, status() becomes failed, error() tells why and
// every later sample is refused.

#include "SegmentWriter.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace vantel::media {

class VideoTrackEncoder;
class AudioTrackEncoder;
class FragmentMuxer;

class Fmp4SegmentWriter final : public SegmentWriter {
public:
    static constexpr double kTimelineOffset = 1024.0 / 48000.0;
    // How far the video may run ahead of an audio track before that track's missing audio is
    // taken as silence, so that a silent source does not hold segments back.
    static constexpr double kMaxAudioLag = 1.0;

    // `sink` must outlive the writer.
    Fmp4SegmentWriter(const WriterConfig& config, SegmentSink& sink);
    ~Fmp4SegmentWriter() override;

    Fmp4SegmentWriter(const Fmp4SegmentWriter&) = delete;
    Fmp4SegmentWriter& operator=(const Fmp4SegmentWriter&) = delete;

    bool start(double firstPts) override;
    bool videoReady() const override;
    bool audioReady(AudioTrack track) const override;
    void appendVideo(const VideoFrame& frame) override;
    void appendAudio(AudioTrack track, const AudioChunk& chunk) override;
    void finish() override;
    Status status() const override { return m_status.load(); }
    std::string error() const override;

private:
    struct Input {
        std::optional<VideoFrame> video;
        std::deque<AudioChunk> audio[2];
        bool finishing = false;
    };
    struct Pending; // the worker's encoders, muxer and queued cut points
    struct FragmentOut;

    void open();
    void run(std::vector<uint8_t> initSegment);
    bool takeInput(Input& input);
    void process(Input& input);
    void onVideoPacket(PacketPtr packet);
    void deliverReadyCuts(bool ending);
    bool audioReached(int64_t cutTicks) const;
    void padAudioTo(int64_t cutTicks);
    void deliver(FragmentOut out);
    void drain();
    void fail(const std::string& message);
    bool readyLocked() const;
    static size_t trackIndex(AudioTrack track) { return track == AudioTrack::mic ? 1 : 0; }

    const WriterConfig m_config;
    SegmentSink& m_sink;
    double m_firstPts = 0.0;
    std::atomic<Status> m_status{Status::idle};

    // Worker state: touched only by the worker thread once it runs (by start() before).
    std::unique_ptr<Pending> m_work;
    std::vector<uint8_t> m_initSegment; // written by the constructor, handed to the worker
    std::string m_openError;            // why the constructor could not open, if it could not

    mutable std::mutex m_lock; // guards m_input, m_queuedSamples, m_abort and m_error
    std::condition_variable m_wake;
    Input m_input;
    int64_t m_queuedSamples[2] = {0, 0};
    bool m_abort = false;
    std::string m_error;
    std::thread m_worker;
};

// The factory the replay buffer uses unless it is given another.
SegmentWriterFactory makeFmp4SegmentWriter();

} // namespace vantel::media
