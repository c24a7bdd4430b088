#include "CaptureController.h"

#include "RecordError.h"

#include <QCoro/QCoroFuture>
#include <QMetaObject>
#include <QtConcurrent/QtConcurrentRun>
#include <pthread.h>

namespace vantel {

// Feeds the samples of the running stream into the current buffer, on the sample thread.
class CaptureController::Intake final : public platform::SampleHandler {
public:
    explicit Intake(CaptureController& owner)
        : m_owner(owner) {}

    void onVideo(const media::VideoFrame& frame, platform::FrameStatus status) override {
        std::shared_ptr<ReplayBuffer> buffer = m_owner.m_buffer.load();
        // Idle and other incomplete frames would open the writer on a picture that is not new.
        if (!buffer || !frame.frame || status != platform::FrameStatus::complete)
            return;
        buffer->appendVideo(frame);
        if (std::optional<std::string> error = buffer->failed())
            m_owner.fail(*error);
    }

    void onAudio(const media::AudioChunk& chunk, bool fromMic) override {
        std::shared_ptr<ReplayBuffer> buffer = m_owner.m_buffer.load();
        if (buffer && !chunk.samples.empty())
            buffer->appendAudio(chunk, fromMic);
    }

    void onStreamStopped(const std::string& error) override { m_owner.fail(error); }

private:
    CaptureController& m_owner;
};

namespace {

// Runs `work` and hands back what it threw, so that the awaiting side rethrows it.
template <typename Work> std::exception_ptr attempt(Work&& work) {
    try {
        work();
        return nullptr;
    } catch (...) {
        return std::current_exception();
    }
}

} // namespace

template <typename Work> auto CaptureController::onControl(Work work) {
    return QtConcurrent::run(&m_control, [work = std::move(work)]() mutable {
        pthread_setname_np(pthread_self(), "record.control");
        return work();
    });
}

CaptureController::CaptureController(std::unique_ptr<platform::CaptureBackend> backend,
                                     QObject* parent)
    : QObject(parent)
    , m_backend(std::move(backend))
    , m_intake(std::make_unique<Intake>(*this))
    , m_config([] { return CaptureConfig{}; })
    , m_currentGame([] { return std::optional<GameTarget>(); })
    , m_autoRestart(this) {
    m_control.setMaxThreadCount(1);
    m_asking.setMaxThreadCount(1);
    m_autoRestart.setSingleShot(true);
    connect(&m_autoRestart, &QTimer::timeout, this, [this] { restartAfterFailure(); });
}

CaptureController::~CaptureController() {
    m_asking.waitForDone();
    m_control.waitForDone();
    m_buffer.store(nullptr);
    if (m_run)
        takeDown(*m_run, Segments::discard);
}

std::shared_ptr<ReplayBuffer> CaptureController::buffer() const {
    return m_buffer.load();
}

void CaptureController::setConfigProvider(std::function<CaptureConfig()> provider) {
    m_config = std::move(provider);
}

void CaptureController::setCurrentGameProvider(
    std::function<std::optional<GameTarget>()> provider) {
    m_currentGame = std::move(provider);
}

bool CaptureController::permitted() const {
    return m_backend->hasPermission();
}

QCoro::Task<bool> CaptureController::requestPermission() {
    // A pool of its own: the desktop's dialog may wait minutes for the user, and neither the
    // main thread nor the control thread may wait with it.
    QFuture<bool> asking = QtConcurrent::run(&m_asking, [backend = m_backend.get()] {
        pthread_setname_np(pthread_self(), "record.permission");
        return backend->requestPermission();
    });
    co_return co_await asking;
}

void CaptureController::setPermissionStore(platform::PermissionStore store) {
    m_backend->setPermissionStore(std::move(store));
}

std::string CaptureController::explain(const std::exception& error) {
    if (const auto* own = dynamic_cast<const RecordError*>(&error))
        return own->errorDescription();
    if (dynamic_cast<const platform::PermissionDenied*>(&error))
        return RecordError::permission().errorDescription();
    std::string text = error.what();
    return text.empty() ? std::string("Recording failed.") : text;
}

QSize CaptureController::outputSize(double width, double height, double scale, int maxHeight) {
    double w = scale * width;
    double h = scale * height;
    if (maxHeight > 0 && maxHeight < h) {
        w = w * maxHeight / h;
        h = maxHeight;
    }
    auto even = [](double v) {
        return int(int64_t(v) & ~int64_t(1));
    };
    return QSize(even(w), even(h));
}

QCoro::Task<> CaptureController::sync() {
    const CaptureConfig config = m_config();
    std::optional<GameTarget> wanted = m_currentGame();
    if (!wanted && config.mode == CaptureMode::always)
        wanted = GameTarget::desktop();
    if (!wanted) {
        co_await stop();
        setState(State::waiting());
        co_return;
    }
    if (m_target == wanted && m_stream)
        co_return;
    co_await restart(wanted);
}

QCoro::Task<> CaptureController::restart(std::optional<GameTarget> target) {
    co_await restartWith(std::move(target), Segments::discard);
}

QCoro::Task<> CaptureController::restartWith(std::optional<GameTarget> target, Segments segments) {
    if (m_restarting)
        co_return;
    m_restarting = true;
    ++m_operations;
    // Chosen before stopping, because stopping forgets the target.
    const GameTarget chosen = target ? *target : m_target ? *m_target : GameTarget::desktop();
    EndedRuns earlier = co_await stopRun(segments);
    m_failedWhileStarting.reset();
    std::optional<std::string> error;
    bool current = true;
    try {
        current = co_await start(chosen, std::move(earlier));
    } catch (const std::exception& e) {
        error = explain(e);
    } catch (...) {
        error = "Recording failed.";
    }
    if (error) {
        setState(State::error(*error));
    } else if (current) {
        m_target = chosen;
        // An automatic restart still pending from an earlier failure would only tear this
        // healthy run down.
        m_autoRestart.stop();
        m_failing = false;
        setState(State::recording(chosen.name));
    }
    m_restarting = false;
    --m_operations;
    // The new stream died before its start was through: handled now like any failure of a
    // running stream, once a pending automatic restart has cleared its guard.
    std::optional<std::string> died = std::exchange(m_failedWhileStarting, std::nullopt);
    if (died && !error && current)
        fail(*died);
}

QCoro::Task<> CaptureController::stop() {
    // An owner's stop (pause, quit, no game) outranks a restart still pending from a failure.
    m_autoRestart.stop();
    m_failing = false;
    ++m_operations;
    co_await stopRun(Segments::discard);
    --m_operations;
}

QCoro::Task<CaptureController::EndedRuns> CaptureController::stopRun(Segments segments) {
    // The stream leaves the field before it is joined, so that a failure it reports while
    // stopping finds no stream and schedules no restart.
    std::shared_ptr<Run> run = std::exchange(m_run, nullptr);
    m_stream = nullptr;
    m_buffer.store(nullptr);
    m_target.reset();
    EndedRuns kept;
    if (run) {
        // Queued behind the run's own preparation and start, so a stream is never stopped
        // while it is being started and nothing a start made is left behind.
        QFuture<EndedRuns> stopping =
            onControl([run, segments] { return takeDown(*run, segments); });
        kept = co_await stopping;
    }
    setState(State::off());
    co_return kept;
}

CaptureController::EndedRuns CaptureController::takeDown(Run& run, Segments segments) {
    if (run.stream) {
        try {
            run.stream->stop();
        } catch (...) {
        }
    }
    EndedRuns kept;
    if (run.buffer) {
        try {
            run.buffer->finish();
        } catch (...) {
        }
        if (segments == Segments::keep)
            kept = run.buffer->handOver();
        run.buffer->discard();
    }
    return kept;
}

platform::CaptureDisplay CaptureController::chooseDisplay(std::optional<uint32_t> wanted) {
    const std::vector<platform::CaptureDisplay> displays = m_backend->displays();
    if (displays.empty())
        throw RecordError::noDisplay();
    const std::optional<uint32_t> id = wanted ? wanted : m_backend->mainDisplay();
    for (const platform::CaptureDisplay& display : displays)
        if (id && display.id == *id)
            return display;
    return displays.front();
}

void CaptureController::prepare(Run& run, const GameTarget& target, const CaptureConfig& config,
                                const media::SegmentWriterFactory& writerFactory,
                                EndedRuns& earlier) {
    // The display query may open what the stream then takes over (the screen cast on Wayland);
    // when no stream takes it, because a later step throws, it is released on the way out.
    struct Release {
        platform::CaptureBackend& backend;
        ~Release() { backend.releaseDisplays(); }
    } release{*m_backend};
    // The display query comes first: a display server that cannot be reached says so, which
    // tells more than a refused permission. Where the user has to be asked first (Wayland), it
    // throws PermissionDenied rather than asking by itself.
    const platform::CaptureDisplay display = chooseDisplay(target.displayID);
    if (!m_backend->hasPermission())
        throw RecordError::permission();
    const QSize size = outputSize(display.width, display.height, display.scale, config.maxHeight);

    const ReplayBuffer::Config bufferConfig{.width = size.width(),
                                            .height = size.height(),
                                            .fps = config.fps,
                                            .quality = config.quality,
                                            .codec = config.codec,
                                            .withMic = config.recordMic,
                                            .keepSeconds = double(config.bufferSeconds)};
    auto buffer = std::make_shared<ReplayBuffer>(bufferConfig, writerFactory);
    platform::StreamConfig streamConfig{display,    size.width(),      size.height(),
                                        config.fps, config.showCursor, config.recordMic};
    try {
        run.stream = m_backend->createStream(streamConfig, *m_intake);
    } catch (...) {
        buffer->discard();
        throw;
    }
    buffer->keepEarlierRuns(std::move(earlier));
    run.buffer = std::move(buffer);
}

QCoro::Task<bool> CaptureController::start(GameTarget target, EndedRuns earlier) {
    auto run = std::make_shared<Run>();
    m_run = run;
    // The futures are named locals: GCC 12 destroys lambda temporaries inside a co_await
    // expression twice.
    QFuture<std::exception_ptr> preparing =
        onControl([this, run, target, config = m_config(), factory = m_writerFactory,
                   earlier = std::move(earlier)]() mutable {
            std::exception_ptr failure =
                attempt([&] { prepare(*run, target, config, factory, earlier); });
            ReplayBuffer::discardRuns(earlier); // what a failed preparation did not take
            return failure;
        });
    std::exception_ptr failure = co_await preparing;
    // Stopped meanwhile: that stop has published off and takes down whatever was prepared.
    if (m_run != run)
        co_return false;
    if (failure)
        std::rethrow_exception(failure);

    // Stored before starting: a start that fails leaves both for the next stop to clean up.
    m_buffer.store(run->buffer);
    m_stream = run->stream;
    QFuture<std::exception_ptr> starting =
        onControl([stream = run->stream] { return attempt([&] { stream->start(); }); });
    failure = co_await starting;
    if (m_run != run)
        co_return false;
    if (failure)
        std::rethrow_exception(failure);
    co_return true;
}

void CaptureController::setState(State state) {
    m_state = state;
    QMetaObject::invokeMethod(
        this,
        [this, state] {
            if (onState)
                onState(state);
            emit stateChanged(state);
        },
        Qt::QueuedConnection);
}

void CaptureController::fail(std::string message) {
    QMetaObject::invokeMethod(
        this, [this, message = std::move(message)] { acceptFailure(message); },
        Qt::QueuedConnection);
}

void CaptureController::acceptFailure(const std::string& message) {
    if (m_stream && !m_target && m_restarting) {
        // The stream of a start still awaited: decided once the start is through.
        if (!m_failedWhileStarting)
            m_failedWhileStarting = message;
        return;
    }
    // Only an established run fails this way; a start that failed has already said so.
    if (!m_stream || !m_target || m_failing)
        return;
    m_failing = true;
    setState(State::error(message.empty() ? std::string("Recording failed.") : message));
    m_autoRestart.start(m_restartDelay);
}

QCoro::Task<> CaptureController::restartAfterFailure() {
    co_await restartWith(std::nullopt, Segments::keep);
    m_failing = false;
}

} // namespace vantel
