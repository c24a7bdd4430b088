#pragma once

// The single controller of screen recording. It never decides whether to record: the
// application controller tells it through sync(), restart() and stop(), and it turns the wanted
// target into a capture stream feeding a fresh ReplayBuffer, publishes its State, restarts a
// failed stream by itself 3 s later, and explains errors in the user's words.
//
// Thread: every member is used on the main thread, except buffer(), which the sample path reads
// on the "record.capture" thread (published atomically, so a reader sees the old or the new
// buffer whole).

#include "CaptureConfig.h"
#include "GameTarget.h"
#include "RecordingOptions.h"
#include "ReplayBuffer.h"

#include <QObject>
#include <QCoro/QCoroTask>

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

    static Capture& shared();

    QCoro::Task<> sync();
    QCoro::Task<> restart(std::optional<GameTarget> target = std::nullopt);
    QCoro::Task<> stop();

    State state() const;
    // Called on the main thread, asynchronously, once for every assignment of the state.
    std::function<void(State)> onState;

    std::shared_ptr<ReplayBuffer> buffer() const;
    std::optional<GameTarget> target() const;

    // The application installs a provider that reads the settings store; without one the
    // defaults of CaptureConfig are used.
    void setConfigProvider(std::function<CaptureConfig()> provider);

    static bool hasPermission();
    static std::string explain(const std::exception& error);

signals:
    void stateChanged(vantel::Capture::State state);
};

} // namespace vantel
