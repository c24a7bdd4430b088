#pragma once

// The single controller of screen recording. It never decides whether to record: the
// application controller tells it through sync(), restart() and stop(), and it turns the wanted
// target into a capture stream feeding a fresh ReplayBuffer, publishes its State, restarts a
// failed stream by itself 3 s later, and explains errors in the user's words.
//
// Threads:
// - Every member is used on the main thread, except that the stream's sample thread
//   ("record.capture") reads the current buffer through the intake. The buffer is published as
//   an atomic shared pointer, so that thread sees the old or the new buffer whole, and a buffer
//   handed out by buffer() stays alive for as long as its holder keeps it.
// - Blocking work (starting and joining the stream, finishing and deleting the buffer) runs on
//   the Qt thread pool and is awaited, so the main thread never waits for it.
// - Control operations interleave at their awaits; m_restarting is the only guard against
//   overlapping restarts, and sync() has none of its own.

#include "CaptureConfig.h"
#include "GameTarget.h"
#include "RecordingOptions.h"
#include "ReplayBuffer.h"
#include "platform/CaptureSource.h"

#include <QCoro/QCoroTask>
#include <QFuture>
#include <QObject>
#include <QSize>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace vantel {

class Capture : public QObject {
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
    // the followed game is GameDetector::shared().current().
    explicit Capture(std::unique_ptr<platform::CaptureBackend> backend, QObject* parent = nullptr);
    // Stops a running stream and deletes its buffer, blocking.
    ~Capture() override;

    // The process-wide controller over createCaptureBackend(), never destroyed.
    static Capture& shared();

    // Brings the stream in line with the wanted target: the followed game, else the desktop in
    // the mode that always records; with nothing wanted it stops and waits.
    QCoro::Task<> sync();
    // Stops whatever runs and starts for `target`, else the current target, else the desktop.
    // Dropped at once while another restart runs.
    QCoro::Task<> restart(std::optional<GameTarget> target = std::nullopt);
    // Stops the stream, finishes and deletes its buffer, forgets the target, cancels a pending
    // automatic restart and publishes off.
    QCoro::Task<> stop();

    State state() const { return m_state; }
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
    // permitted() of the shared controller.
    static bool hasPermission();
    // The user-facing text of an error: the fixed text of a RecordError, else what().
    static std::string explain(const std::exception& error);

    // The encoder size for a display of width x height points at `scale` pixels per point: the
    // pixel size, scaled down to maxHeight when that is positive and smaller, each side
    // truncated and made even.
    static QSize outputSize(double width, double height, double scale, int maxHeight);

signals:
    void stateChanged(vantel::Capture::State state);

private:
    class Intake;

    // True when the started run is still the current one: a stop() that came in while the
    // stream was starting has already taken it down, and the start must not claim it.
    QCoro::Task<bool> start(GameTarget target);
    QCoro::Task<> stopRun();
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
    std::shared_ptr<platform::CaptureStream> m_stream;
    // The stream start running on the thread pool, if any; stopping waits for it, because a
    // stream must not be stopped on one thread while another is still starting it.
    QFuture<std::exception_ptr> m_starting;
    std::atomic<std::shared_ptr<ReplayBuffer>> m_buffer;
    std::optional<GameTarget> m_target;
    State m_state;
    bool m_restarting = false;
    bool m_failing = false;
    // A failure the stream reported while its start was still awaited.
    std::optional<std::string> m_failedWhileStarting;
    std::chrono::milliseconds m_restartDelay{3000};
    QTimer m_autoRestart;
};

} // namespace vantel
