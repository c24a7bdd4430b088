#pragma once

// A controller over a real capture controller whose backend records nothing, a settings store in
// the test home, a recorder of the desktop calls and a scripted save.

#include "app/AppController.h"
#include "app/AppState.h"
#include "app/ControllerDesktop.h"
#include "app/WelcomeWindow.h"
#include "common/TestEnv.h"
#include "engine/CaptureController.h"
#include "settings/Notifications.h"
#include "settings/Settings.h"

#include <QCoreApplication>
#include <QCoro/QCoroTask>
#include <QCoro/QCoroTimer>
#include <QElapsedTimer>
#include <QThread>
#include <QUuid>
#include <functional>
#include <memory>
#include <vector>

namespace vantel::test {

struct ToastSeen {
    QString title, detail;
    bool ok;
    bool operator==(const ToastSeen&) const = default;
};

class RecordingShell : public ControllerDesktop {
public:
    struct Binding : HotkeyBinding {
        RecordingShell& owner;
        Hotkey hotkey;
        bool held;
        Binding(RecordingShell& o, Hotkey h, bool r)
            : owner(o)
            , hotkey(h)
            , held(r) {
            owner.bound.push_back(h);
        }
        ~Binding() override {
            owner.released.push_back(hotkey);
            owner.refuse = nullptr;
        }
        bool registered() const override { return held; }
        void onRefused(std::function<void()> refused) override {
            owner.refuse = [this, refused = std::move(refused)] {
                held = false;
                refused();
            };
        }
    };

    std::vector<ToastSeen> toasts;
    int sounds = 0;
    bool permission = true;
    bool keysFree = true;
    std::vector<Hotkey> bound, released;
    std::function<void()> press;  // the action of the newest binding
    std::function<void()> refuse; // the desktop refuses the newest binding later

    void toast(const QString& title, const QString& detail, ToastKind kind) override {
        toasts.push_back({title, detail, kind == ToastKind::success});
    }
    void playSaveSound() override { ++sounds; }
    std::unique_ptr<HotkeyBinding> bindHotkey(const Hotkey& hotkey,
                                              std::function<void()> action) override {
        press = std::move(action);
        return std::make_unique<Binding>(*this, hotkey, keysFree);
    }
    bool hasPermission() override { return permission; }
};

// Capture that starts streams which deliver nothing: a run and its buffer exist, no media.
class IdleBackend : public platform::CaptureBackend {
public:
    int streams = 0;
    bool hasPermission() override { return true; }
    std::vector<platform::CaptureDisplay> displays() override { return {{7, 0, 0, 640, 360, 1}}; }
    std::optional<uint32_t> mainDisplay() override { return 7; }
    std::unique_ptr<platform::CaptureStream> createStream(const platform::StreamConfig&,
                                                          platform::SampleHandler&) override {
        ++streams;
        return std::make_unique<Stream>();
    }

private:
    struct Stream : platform::CaptureStream {
        void start() override {}
        void stop() override {}
    };
};

class IdleWriter : public media::SegmentWriter {
public:
    bool start(double) override { return true; }
    bool videoReady() const override { return true; }
    bool audioReady(media::AudioTrack) const override { return true; }
    void appendVideo(const media::VideoFrame&) override {}
    void appendAudio(media::AudioTrack, const media::AudioChunk&) override {}
    void finish() override {}
    Status status() const override { return Status::writing; }
    std::string error() const override { return {}; }
};

inline void settle(int rounds = 20) {
    for (int i = 0; i < rounds; ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QCoreApplication::sendPostedEvents();
    }
}

template <typename T> T await(QCoro::Task<T> task) {
    T value = QCoro::waitFor(std::move(task));
    settle();
    return value;
}
inline bool waitUntil(const std::function<bool()>& done, int limitMs = 5000) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < limitMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    return done();
}

inline void await(QCoro::Task<> task) {
    QCoro::waitFor(std::move(task));
    settle();
}

struct ShellRig {
    QString file = QString::fromStdString(
        (testHome() /
         ("shell-" + QUuid::createUuid().toString(QUuid::Id128).toStdString() + ".ini"))
            .string());
    Notifications notifications;
    Settings settings{file, notifications};
    IdleBackend* backend = new IdleBackend;
    CaptureController capture{std::unique_ptr<platform::CaptureBackend>(backend)};
    AppState state{settings.store()};
    RecordingShell shell;
    std::vector<double> saves;
    std::function<QCoro::Task<Clip>(double)> saver = [this](double seconds) -> QCoro::Task<Clip> {
        saves.push_back(seconds);
        Clip clip;
        clip.url = "/clips/Desktop/Desktop 1.mp4";
        clip.meta.game = "Desktop";
        clip.meta.duration = seconds;
        co_return clip;
    };
    std::unique_ptr<AppController> controller;

    explicit ShellRig(CaptureMode mode = CaptureMode::always, bool onboarded = true) {
        settings.setMode(mode);
        if (onboarded)
            AppState::writeFlag(settings.store(), settingsKey::onboarded, true);
        capture.setConfigProvider([this] { return settings.captureConfig(); });
        capture.setCurrentGameProvider([] { return std::nullopt; });
        capture.setWriterFactory([](const media::WriterConfig&, media::SegmentSink&) {
            return std::make_unique<IdleWriter>();
        });
        controller = std::make_unique<AppController>(AppController::Services{
            settings, capture, nullptr, state, shell,
            [this](const QString& id) -> QWidget* {
                if (id == "welcome")
                    return new WelcomeWindow({settings, [this] {
                                                  return shell.permission;
                                              }});
                return new QWidget;
            },
            [this](double seconds) { return saver(seconds); }, QStringLiteral("1.9.3")});
        controller->setVersionFile(QUrl("http://127.0.0.1:1/app/version.json"));
    }
    ~ShellRig() {
        controller.reset();
        await(capture.stop());
    }

    // Launches without a tray icon and waits for the first capture state to show.
    void launch() {
        controller->launch(false);
        // The capture starts on its own thread: wait until the start asked for is through.
        waitUntil([this] { return state.statusLine() != "Starting" && !capture.changing(); });
        settle();
    }
};

} // namespace vantel::test
