#pragma once

// The rolling on-disk store behind instant replay. One buffer lives for one capture run: it
// feeds live samples to a segmenting encoder, keeps the initialisation segment in memory and each
// media segment as a numbered file in a private run folder, and deletes the oldest segments once
// the newer ones cover keepSeconds + 2 s.
//
// Threads:
// - appendVideo/appendAudio: the capture sample thread only, never concurrently. They never
//   block on encoding: a sample the encoder cannot take at once is dropped.
// - segment delivery (SegmentSink): the writer's own thread.
// - finish()/discard(): the owner, after the stream has stopped.
// - snapshot()/bufferedSeconds(): any thread, at any time.
// m_lock guards exactly m_initSegment and m_segments, and is held only for in-memory steps;
// file reads, writes and deletions happen outside it.

#include "RecordingOptions.h"
#include "media/SegmentWriter.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace vantel {

class RunFolder;

class ReplayBuffer : private media::SegmentSink {
public:
    struct Segment {
        std::filesystem::path url;
        double start = 0.0;
        double duration = 0.0;
    };

    // What a snapshot joins: the initialisation segment and the chosen segment files, oldest
    // first, with the range they cover.
    struct SegmentSet {
        std::vector<uint8_t> init;
        std::vector<std::filesystem::path> files;
        double from = 0.0;
        double to = 0.0;
    };

    struct Snapshot {
        std::filesystem::path url; // "snap-<UUID>.mp4" in the temporary folder; the caller's
        double from = 0.0;
        double to = 0.0;
    };

    // Creates the run folder (under $XDG_CACHE_HOME/vantel-record) and the writer. Throws
    // std::filesystem::filesystem_error when the folder cannot be created. Removes the run
    // folders of earlier processes that are no longer locked. The folder stays locked for the
    // buffer's life and stays on disk until discard(). `writerFactory` replaces the real FFmpeg
    // writer in tests; a writer that cannot be made is reported through failed() at the first
    // frame.
    ReplayBuffer(int width, int height, int fps, Quality quality, Codec codec, bool withMic,
                 double keepSeconds, media::SegmentWriterFactory writerFactory = {});
    ~ReplayBuffer() override;

    ReplayBuffer(const ReplayBuffer&) = delete;
    ReplayBuffer& operator=(const ReplayBuffer&) = delete;

    void appendVideo(const media::VideoFrame& frame);
    void appendAudio(const media::AudioChunk& chunk, bool fromMic);

    // Flushes and closes the writer; returns at once when it never started.
    void finish();
    // Deletes the run folder with everything in it; errors are ignored.
    void discard();

    // Joins the initialisation segment and the newest segments covering at least `seconds` into
    // a new file. Only segments that start before `until` (on the sample clock) count, so a
    // snapshot taken late still ends where its request was made. Throws
    // RecordError::nothingBuffered when no segment counts, and the file system's error when the
    // output cannot be written (the partial file is removed). A segment file that cannot be read
    // (retention may just have deleted it) is left out silently; the returned range is computed
    // as if it were there.
    Snapshot snapshot(double seconds, double until = std::numeric_limits<double>::infinity()) const;
    // The segments snapshot() would join, without joining them. Throws
    // RecordError::nothingBuffered like snapshot(). The files may be deleted by retention at any
    // time after this returns: open them at once.
    SegmentSet chooseSegments(double seconds,
                              double until = std::numeric_limits<double>::infinity()) const;
    double bufferedSeconds() const;

    // The writer's error after a failure; read by the owner after each video frame, on the
    // sample thread.
    std::optional<std::string> failed() const;
    int width() const { return m_width; }
    int height() const { return m_height; }
    const std::filesystem::path& dir() const { return m_dir; }
    std::vector<Segment> segments() const;

    // The folder that holds the run folders.
    static std::filesystem::path runRoot();
    // The integer bit rate the encoder is given.
    static int64_t encoderBitRate(int width, int height, int fps, Quality quality, Codec codec);

private:
    using Path = std::filesystem::path;

    // SegmentSink, on the writer's thread.
    void onInitSegment(std::vector<uint8_t> bytes) override;
    void onMediaSegment(std::vector<uint8_t> bytes,
                        std::optional<media::SegmentTiming> timing) override;

    bool startWriter(double firstPts);
    void noteWriterFailure();
    // Lists a written segment and trims the list to the retention window; returns the files of
    // the segments that fell out, to be deleted outside the lock.
    std::vector<Path> fileSegment(Segment segment);
    Path segmentPath(int64_t seq) const;

    int m_width = 0;
    int m_height = 0;
    std::filesystem::path m_dir;
    bool m_withMic = false;
    double m_keepSeconds = 0.0;
    std::unique_ptr<RunFolder> m_folder;

    mutable std::mutex m_lock;
    std::optional<std::vector<uint8_t>> m_initSegment; // guarded by m_lock
    std::deque<Segment> m_segments;                    // guarded by m_lock; oldest first

    bool m_started = false;              // sample thread only
    std::optional<std::string> m_failed; // written on the sample thread only
    int64_t m_seq = 0;                   // writer's delivery thread only
    std::string m_writerUnavailable;     // why no writer could be made, if none was

    // Last, so it is gone before the state its deliveries touch.
    std::unique_ptr<media::SegmentWriter> m_writer;
};

} // namespace vantel
