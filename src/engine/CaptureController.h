#pragma once

// The single controller of screen recording. It never decides whether to record: the
// application controller tells it through sync(), restart() and stop(), and it turns the wanted
// target into a capture stream feeding a fresh ReplayBuffer, publishes its State, restarts a
// failed stream by itself 3 s later, and explains errors in the user's words. The automatic
// restart hands the failed run's segments to the new buffer (ReplayBuffer::keepEarlierRuns), so a
// save after it still reaches the seconds before the failure; every other stop deletes them.
//
// Threads:
// - Every member is used on the main thread, except that the stream's sample thread
//   ("record.capture") reads the current buffer through the intake. The buffer is published as
//   an atomic shared pointer, so that thread sees the old or the new buffer whole, and a buffer
//   handed out by buffer() stays alive for as long as its holder keeps it.
// - Blocking work (asking the display server for its monitors and permission, creating the
//   buffer with its run folder and encoder, starting and joining the stream, finishing and
//   deleting the buffer) runs on this controller's own serial thread "record.control", in the
//   order it was asked for, and is awaited: the main thread never waits on the display server or
//   the disk, and saves, exports and thumbnails on other pools never delay a start or a stop.
// - Control operations interleave at their awaits; m_restarting is the only guard against
//   overlapping restarts, and sync() has none of its own.

#include "CaptureConfig.h"
#include "GameTarget.h"
#include "RecordingOptions.h"
#include "ReplayBuffer.h"
#include "platform/capture/CaptureBackend.h"

#include <QCoro/QCoroTask>
#include <QFuture>
#include <QObject>
#include <QSize>
#include <QThreadPool>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace vantel {

class CaptureController : public QObject {
    Q_OBJECT
public:
    struct State {
        enum class Kind { recording, error, off, waiting };
        Kind kind = Kind::off;
        std::string text; // the target's name for recording, the message for error

        static State recording(std::string name) { return {Kind::recording, std::move(name)}; }
        static State error(std::string message) { return {Kind::error, std::move(message)}; }
        static State off() { return {Kind::off, {}}; }
        static State waiting() { return {Kind::waiting, {}}; }
        bool operator==(const State&) const = default;
    };

    // Takes the backend over. Without providers, the settings are CaptureConfig's defaults and
    // no game is followed (the application installs the game detector's current()).
    explicit CaptureController(std::unique_ptr<platform::CaptureBackend> backend,
                               QObject* parent = nullptr);
    // Waits for the control thread, stops a running stream and deletes its buffer, blocking.
    ~CaptureController() override;

    // Brings the stream in line with the wanted target: the followed game, else the desktop in
    // the mode that always records; with nothing wanted it stops and waits.
    QCoro::Task<> sync();
    // Stops whatever runs and starts for `target`, else the current target, else the desktop.
    // Dropped at once while another restart runs. A successful start cancels an automatic
    // restart still pending from an earlier failure.
    QCoro::Task<> restart(std::optional<GameTarget> target = std::nullopt);
    // Stops the stream, finishes and deletes its buffer, forgets the target, cancels a pending
    // automatic restart and publishes off.
    QCoro::Task<> stop();

    State state() const { return m_state; }
    // Whether a start or a stop is under way (awaiting the control thread).
    bool changing() const { return m_operations > 0; }
    // Called on the main thread, asynchronously, once for every assignment of the state (also of
    // an equal value), in assignment order. stateChanged() is emitted alongside.
    std::function<void(State)> onState;

    // The buffer of the current run, or null.
    std::shared_ptr<ReplayBuffer> buffer() const;
    // What the current run records; set only after a successful start.
    std::optional<GameTarget> target() const { return m_target; }

    // Read at every sync() and start.
    void setConfigProvider(std::function<CaptureConfig()> provider);
    void setCurrentGameProvider(std::function<std::optional<GameTarget>()> provider);
    // Replaces the FFmpeg writer of the buffers this controller creates (tests).
    void setWriterFactory(media::SegmentWriterFactory factory) {
        m_writerFactory = std::move(factory);
    }
    // The wait between a failure of a running stream and its automatic restart (3 s).
    void setRestartDelay(std::chrono::milliseconds delay) { m_restartDelay = delay; }

    // Whether this controller's backend may read the screen.
    bool permitted() const;
    // Asks the user for permission where the desktop has a dialog for it (the screen-cast
    // portal on Wayland) and keeps the answer; resolves with permitted() afterwards. Requests
    // run one at a time, on a thread of their own.
    QCoro::Task<bool> requestPermission();
    // Where the backend keeps the user's answer across runs (thread-safe functions).
    void setPermissionStore(platform::PermissionStore store);
    // The user-facing text of an error: the fixed text of a RecordError, else what().
    static std::string explain(const std::exception& error);

    // The encoder size for a display of width x height points at `scale` pixels per point: the
    // pixel size, scaled down to maxHeight when that is positive and smaller, each side
    // truncated and made even.
    static QSize outputSize(double width, double height, double scale, int maxHeight);

signals:
    void stateChanged(vantel::CaptureController::State state);

private:
    class Intake;
    // What one start made: written by its preparation on the control thread, then read by the
    // main thread after awaiting it and by later control tasks (the control thread is serial).
    struct Run {
        std::shared_ptr<platform::CaptureStream> stream;
        std::shared_ptr<ReplayBuffer> buffer;
    };

    using EndedRuns = std::vector<ReplayBuffer::EndedRun>;
    // Whether a stop keeps the run's segments for the next run.
    enum class Segments { discard, keep };

    // True when the started run is still the current one: a stop() that came in while the
    // stream was being prepared or started has already taken it down, and the start must not
    // claim it. The new buffer keeps the `earlier` runs; a start that fails deletes them.
    QCoro::Task<bool> start(GameTarget target, EndedRuns earlier);
    QCoro::Task<> restartWith(std::optional<GameTarget> target, Segments segments);
    // On the control thread: chooses the display, checks permission, creates the buffer (its
    // run folder, the encoder) with the `earlier` runs, and the stream.
    void prepare(Run& run, const GameTarget& target, const CaptureConfig& config,
                 const media::SegmentWriterFactory& writerFactory, EndedRuns& earlier);
    // On the control thread: stops the stream, finishes the buffer and deletes it, or hands its
    // runs over.
    static EndedRuns takeDown(Run& run, Segments segments);
    template <typename Work> auto onControl(Work work);
    QCoro::Task<EndedRuns> stopRun(Segments segments);
    QCoro::Task<> restartAfterFailure();
    platform::CaptureDisplay chooseDisplay(std::optional<uint32_t> wanted);
    void setState(State state);
    // Any thread: hands a failure of the running stream to the main thread.
    void fail(std::string message);
    void acceptFailure(const std::string& message);

    std::unique_ptr<platform::CaptureBackend> m_backend;
    std::unique_ptr<Intake> m_intake; // outlives every stream
    std::function<CaptureConfig()> m_config;
    std::function<std::optional<GameTarget>()> m_currentGame;
    media::SegmentWriterFactory m_writerFactory;

    // Main thread only, except m_buffer (see above).
    std::shared_ptr<Run> m_run;                        // the run being started or running
    std::shared_ptr<platform::CaptureStream> m_stream; // set once the run's start is under way
    std::atomic<std::shared_ptr<ReplayBuffer>> m_buffer;
    std::optional<GameTarget> m_target;
    State m_state;
    bool m_restarting = false;
    bool m_failing = false;
    int m_operations = 0; // restarts and stops under way
    // A failure the stream reported while its start was still awaited.
    std::optional<std::string> m_failedWhileStarting;
    std::chrono::milliseconds m_restartDelay{3000};
    QTimer m_autoRestart;
    // One thread, tasks in order: the serial executor of start and stop work.
    QThreadPool m_control;
    // One thread for permission requests, which may wait long for the user.
    QThreadPool m_asking;
};

} // namespace vantel
