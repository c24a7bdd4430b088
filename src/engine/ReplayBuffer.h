#pragma once

// The rolling on-disk store behind instant replay. One buffer lives for one capture run: it
// feeds live samples to a segmenting encoder, keeps the initialisation segment in memory and each
// media segment as a numbered file in a private run folder, and deletes the oldest segments once
// the newer ones cover keepSeconds + 2 s.
//
// A segment that cannot be written (a full disk, a removed run folder) fails the run: nothing
// later is listed, so the listed segments of a run never have a hole, and failed() reports it.
//
// Earlier runs: after a failed run is restarted, the new buffer may keep the ended runs before it
// (keepEarlierRuns), with their initialisation segments and run folders (locked). They count
// towards the retention window like the run's own oldest segments and lose their oldest
// segments first; a run whose last segment falls out is deleted with its folder. Saves reach
// back into them (chooseSegments); the joined snapshot file never does, as two runs cannot be
// joined byte for byte.
//
// Threads:
// - appendVideo/appendAudio: the capture sample thread only, never concurrently. They never
//   block on encoding: a sample the encoder cannot take at once is dropped.
// - segment delivery (SegmentSink): the writer's own thread.
// - finish()/discard(): the owner, after the stream has stopped.
// - snapshot()/bufferedSeconds(): any thread, at any time.
// m_lock guards exactly m_initSegment, m_segments, m_earlier and m_writeError, and is held only
// for in-memory steps; file reads, writes and deletions happen outside it.

#include "RecordingOptions.h"
#include "media/SegmentRun.h"
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
#include <system_error>
#include <vector>

namespace vantel {

class RunFolder;

class ReplayBuffer : private media::SegmentSink {
public:
    struct Segment {
        std::filesystem::path url;
        double start = 0.0;
        double duration = 0.0;
        // When it was listed, on the capture clock; for a segment the writer delivered while
        // finishing, the end of its media, as no later media will follow it.
        double written = 0.0;
    };

    // A run that has ended, kept by the buffer of the run after it. `folder` holds the run's
    // lock for as long as its segments are kept.
    struct EndedRun {
        std::vector<uint8_t> init;
        std::deque<Segment> segments; // oldest first
        std::shared_ptr<RunFolder> folder;
    };

    // What a save reads: the chosen segment files by run, oldest run first, with the range they
    // cover on the capture clock (across runs it includes the time between them).
    struct SegmentSet {
        std::vector<media::SegmentRun> runs;
        double from = 0.0;
        double to = 0.0;
    };

    // A save fails when the newest segment was written longer ago than this at its request: the
    // recording has stopped, and the newest seconds the player asked for are not there.
    static constexpr double kMaxAge = 2.0;

    struct Snapshot {
        std::filesystem::path url; // "snap-<UUID>.mp4" in the temporary folder; the caller's
        double from = 0.0;
        double to = 0.0;
    };

    // What one run records: the output size and rate, the encoder's choices, whether the
    // microphone has its own track, and the seconds a save may reach back.
    struct Config {
        int width = 0;  // even
        int height = 0; // even
        int fps = 60;
        Quality quality = Quality::high;
        Codec codec = Codec::h264;
        bool withMic = false;
        double keepSeconds = 30.0;
    };

    // Creates the run folder (under $XDG_CACHE_HOME/vantel-record) and the writer. Throws
    // std::filesystem::filesystem_error when the folder cannot be created. Removes the run
    // folders of earlier processes that are no longer locked. The folder stays locked for the
    // buffer's life and stays on disk until discard(). `writerFactory` replaces the real FFmpeg
    // writer in tests; a writer that cannot be made is reported through failed() at the first
    // frame.
    ReplayBuffer(const Config& config, media::SegmentWriterFactory writerFactory = {});
    ~ReplayBuffer() override;

    ReplayBuffer(const ReplayBuffer&) = delete;
    ReplayBuffer& operator=(const ReplayBuffer&) = delete;

    void appendVideo(const media::VideoFrame& frame);
    void appendAudio(const media::AudioChunk& chunk, bool fromMic);

    // Flushes and closes the writer; returns at once when it never started.
    void finish();
    // Deletes the run folder with everything in it, and those of the earlier runs kept; errors
    // are ignored.
    void discard();

    // After finish(), on the owner's thread: the earlier runs and this one (when it has
    // segments), oldest first, for the buffer of the next run. Their folders pass to the
    // caller; discard() then deletes only a folder this run kept for itself.
    std::vector<EndedRun> handOver();
    // Before the first frame, on the owner's thread: keeps `runs` (from handOver() of the buffer
    // before) as this buffer's earlier runs. Runs without segments are deleted at once.
    void keepEarlierRuns(std::vector<EndedRun> runs);
    // Deletes the folders of runs nobody will keep; errors are ignored.
    static void discardRuns(std::vector<EndedRun>& runs) noexcept;

    // Joins the initialisation segment and the newest segments of the newest run covering at
    // least `seconds` into a new file. Only segments that start before `until` (on the sample
    // clock) count, so a snapshot taken late still ends where its request was made. Throws
    // like chooseSegments(), and the file system's error when the output cannot be written
    // (the partial file is removed). A segment file that cannot be read (retention may just
    // have deleted it) is left out silently; the returned range is computed as if it were there.
    Snapshot snapshot(double seconds, double until = std::numeric_limits<double>::infinity()) const;
    // The newest segments covering at least `seconds`, reaching back into earlier runs where the
    // newest run is shorter. Throws RecordError::nothingBuffered when no segment counts, and
    // RecordError::stale when `until` is finite and the newest segment was written more than
    // kMaxAge before it. The files may be deleted by retention at any time after this returns:
    // open them at once.
    SegmentSet chooseSegments(double seconds,
                              double until = std::numeric_limits<double>::infinity()) const;
    // The seconds of every listed segment, the earlier runs' included.
    double bufferedSeconds() const;

    // Why the run failed: the writer's error, or a segment that could not be written. Read by
    // the owner after each video frame, on the sample thread.
    std::optional<std::string> failed() const;
    int width() const { return m_width; }
    int height() const { return m_height; }
    const std::filesystem::path& dir() const { return m_dir; }
    // This run's listed segments, oldest first.
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

    // A run's chosen segments, as chooseSegments() picks them.
    struct ChosenRun {
        std::vector<uint8_t> init;
        std::vector<Segment> segments;
    };
    // What falls out of the retention window, to be deleted outside the lock.
    struct Expired {
        std::vector<Path> files;
        std::vector<std::shared_ptr<RunFolder>> folders;
    };

    bool startWriter(double firstPts);
    void noteWriterFailure();
    void noteWriteFailure(const Path& file, const std::error_code& error);
    // Lists a written segment and trims the lists to the retention window.
    Expired fileSegment(Segment segment);
    void trimEarlier(double& total, Expired& expired);
    static void remove(Expired& expired);
    Path segmentPath(int64_t seq) const;
    // Newest run first; empty when nothing counts.
    std::vector<ChosenRun> chooseRuns(double seconds, double until) const;

    int m_width = 0;
    int m_height = 0;
    std::filesystem::path m_dir;
    bool m_withMic = false;
    double m_keepSeconds = 0.0;
    std::shared_ptr<RunFolder> m_folder; // null once handed over

    mutable std::mutex m_lock;
    std::optional<std::vector<uint8_t>> m_initSegment; // guarded by m_lock
    std::deque<Segment> m_segments;                    // guarded by m_lock; oldest first
    std::vector<EndedRun> m_earlier;                   // guarded by m_lock; oldest first
    std::string m_writeError;                          // guarded by m_lock

    bool m_started = false;              // sample thread only
    std::optional<std::string> m_failed; // written on the sample thread only
    int64_t m_seq = 0;                   // writer's delivery thread only
    // Set by the delivery thread once a segment could not be written; read by the sample thread.
    std::atomic<bool> m_writeFailed{false};
    std::atomic<bool> m_finishing{false};
    std::string m_writerUnavailable; // why no writer could be made, if none was

    // Last, so it is gone before the state its deliveries touch.
    std::unique_ptr<media::SegmentWriter> m_writer;
};

} // namespace vantel
