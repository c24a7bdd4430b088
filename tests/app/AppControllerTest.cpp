// The controller's decisions over a real capture controller that records nothing: what launch
// starts, the save-clip flow and its toasts, pausing across restarts, the shortcut and its
// problems, wake and settings changes, the windows and quitting.

#include "ShellRig.h"
#include "app/StatusMenu.h"
#include "engine/RecordError.h"
#include "settings/Notifications.h"

#include <QElapsedTimer>
#include <QPushButton>
#include <QSignalSpy>
#include <gtest/gtest.h>
#include <map>

namespace vantel::test {
namespace {

using Kind = SaveResult::Kind;

TEST(AppController, AFreshHomeOpensTheWelcomeWindowAndRecordsNothing) {
    ShellRig rig(CaptureMode::always, false);
    rig.controller->launch(false);
    settle();
    EXPECT_TRUE(rig.controller->windows().isOpen("welcome"));
    EXPECT_EQ(rig.controller->windows().window("welcome")->windowTitle(), "Vantel Record");
    EXPECT_EQ(rig.controller->windows().window("welcome")->size(), QSize(520, 470));
    EXPECT_EQ(rig.backend->streams, 0);
    EXPECT_EQ(rig.state.statusLine(), "Starting");

    QPushButton* start = nullptr;
    for (QPushButton* button :
         rig.controller->windows().window("welcome")->findChildren<QPushButton*>())
        if (button->text() == "Start" && button->isVisibleTo(button->window()))
            start = button;
    ASSERT_TRUE(start);
    start->click();
    ASSERT_TRUE(waitUntil([&] { return rig.state.recording(); }));
    EXPECT_FALSE(rig.controller->windows().isOpen("welcome"));
    EXPECT_EQ(rig.state.statusLine(), "Recording Desktop");
    ASSERT_EQ(rig.shell.toasts.size(), 1u);
    EXPECT_EQ(rig.shell.toasts[0],
              (ToastSeen{"Vantel Record is on", "Alt+Shift+C saves a clip", true}));
}

TEST(AppController, WithoutPermissionTheStatusExplainsAndCaptureStaysUntouched) {
    ShellRig rig;
    rig.shell.permission = false;
    rig.controller->launch(false);
    settle();
    EXPECT_TRUE(rig.controller->windows().isOpen("welcome"));
    rig.controller->welcomeFinished();
    settle();
    EXPECT_EQ(rig.state.statusLine(), "Vantel Record needs Screen Recording permission.");
    EXPECT_FALSE(rig.state.recording());
    EXPECT_EQ(rig.backend->streams, 0);
    EXPECT_TRUE(rig.shell.toasts.empty()) << "no \"is on\" toast without permission";
}

TEST(AppController, SavesWithToastAndSoundAndDropsASecondRequestSilently) {
    ShellRig rig;
    rig.launch();
    ASSERT_EQ(rig.state.statusLine(), "Recording Desktop");

    bool release = false;
    rig.saver = [&](double seconds) -> QCoro::Task<Clip> {
        rig.saves.push_back(seconds);
        while (!release)
            co_await QCoro::sleepFor(std::chrono::milliseconds(5));
        Clip clip;
        clip.url = "/clips/Desktop/one.mp4";
        clip.meta.game = "Desktop";
        clip.meta.duration = 29.6;
        co_return clip;
    };
    QCoro::Task<SaveResult> first = rig.controller->saveClip();
    EXPECT_TRUE(rig.controller->saving());
    const SaveResult second = await(rig.controller->saveClip(10.0));
    EXPECT_EQ(second.kind, Kind::dropped);
    EXPECT_TRUE(rig.shell.toasts.empty()) << "a dropped request shows nothing";
    release = true;
    const SaveResult saved = await(std::move(first));
    EXPECT_EQ(saved.kind, Kind::saved);
    EXPECT_EQ(saved.clip.url, "/clips/Desktop/one.mp4");
    EXPECT_EQ(rig.saves, std::vector<double>{30.0}) << "no length: the buffer length";
    EXPECT_EQ(rig.shell.sounds, 1);
    ASSERT_EQ(rig.shell.toasts.size(), 1u);
    EXPECT_EQ(rig.shell.toasts[0], (ToastSeen{"Clip saved", "Desktop · 0:30", true}));
    EXPECT_FALSE(rig.controller->saving());

    rig.settings.setPlaySound(false);
    rig.saver = [&](double seconds) -> QCoro::Task<Clip> {
        rig.saves.push_back(seconds);
        co_return Clip{"/clips/two.mp4", {}};
    };
    EXPECT_EQ(await(rig.controller->saveClip(120.0)).kind, Kind::saved);
    EXPECT_EQ(rig.saves.back(), 120.0);
    EXPECT_EQ(rig.shell.sounds, 1) << "no sound when switched off";
}

TEST(AppController, FailedSavesAndMissingBuffersAreToldWithTheirText) {
    ShellRig rig;
    rig.launch();
    rig.saver = [](double) -> QCoro::Task<Clip> {
        throw RecordError::nothingBuffered();
        co_return Clip{};
    };
    const SaveResult failed = await(rig.controller->saveClip());
    EXPECT_EQ(failed.kind, Kind::failed);
    EXPECT_EQ(failed.detail, "Nothing recorded yet. Give it a second.");
    ASSERT_EQ(rig.shell.toasts.size(), 1u);
    EXPECT_EQ(rig.shell.toasts[0], (ToastSeen{"Couldn't save the clip",
                                              "Nothing recorded yet. Give it a second.", false}));
    EXPECT_FALSE(rig.controller->saving()) << "a failure ends the save";

    rig.controller->togglePause();
    ASSERT_TRUE(
        waitUntil([&] { return !rig.capture.buffer() && rig.state.statusLine() == "Paused"; }));
    const SaveResult none = await(rig.controller->saveClip());
    EXPECT_EQ(none.kind, Kind::notRecording);
    EXPECT_EQ(rig.shell.toasts.back(), (ToastSeen{"Not recording", "Paused", false}));
    EXPECT_EQ(rig.controller->statusLines(), QStringList{"Paused"});
}

TEST(AppController, PauseStopsCaptureAndSurvivesARestartOfTheProgram) {
    QString file;
    {
        ShellRig rig;
        file = rig.file;
        rig.launch();
        ASSERT_TRUE(rig.capture.buffer());
        rig.controller->togglePause();
        ASSERT_TRUE(waitUntil([&] { return rig.state.statusLine() == "Paused"; }));
        EXPECT_FALSE(rig.capture.buffer());
        EXPECT_FALSE(rig.state.recording());
        EXPECT_EQ(rig.capture.state(), CaptureController::State::off());
        const std::vector<MenuEntry> menu = rig.controller->menuEntries();
        EXPECT_TRUE(std::any_of(menu.begin(), menu.end(),
                                [](const MenuEntry& e) { return e.text == "Resume Recording"; }));
    }
    Notifications notifications;
    Settings reopened(file, notifications);
    AppState state(reopened.store());
    EXPECT_TRUE(state.paused());

    ShellRig rig;
    AppState::writeFlag(rig.settings.store(), settingsKey::paused, true);
    AppState pausedState(rig.settings.store());
    ASSERT_TRUE(pausedState.paused());
    rig.state.setPaused(true);
    rig.launch();
    EXPECT_EQ(rig.state.statusLine(), "Paused");
    EXPECT_EQ(rig.backend->streams, 0) << "a paused program starts without recording";

    rig.controller->togglePause();
    ASSERT_TRUE(waitUntil([&] { return rig.state.recording(); }));
    EXPECT_EQ(rig.settings.store().value("paused").toString(), "false");
}

// The Wayland desktop answers a bind later, after asking the user: a refusal then is a problem
// like keys held by another program, told and shown in the status, never taken for a shortcut
// that works.
TEST(AppController, AShortcutTheDesktopRefusesLaterIsToldAndShownInTheStatus) {
    ShellRig rig;
    rig.launch();
    ASSERT_TRUE(rig.shell.refuse) << "the controller listens for a later answer";
    EXPECT_TRUE(rig.shell.toasts.empty());
    EXPECT_EQ(rig.controller->hotkeyProblem(), "");

    rig.shell.refuse();
    ASSERT_EQ(rig.shell.toasts.size(), 1u);
    EXPECT_EQ(
        rig.shell.toasts[0],
        (ToastSeen{"Shortcut unavailable", "Alt+Shift+C was not allowed by the desktop", false}));
    EXPECT_TRUE(
        rig.controller->statusLines().contains("Alt+Shift+C was not allowed by the desktop"));

    // Choosing the shortcut again asks the desktop again; held this time, the problem goes.
    rig.settings.setSaveHotkey(Hotkey{101, 0});
    settle();
    EXPECT_EQ(rig.controller->hotkeyProblem(), "");
    EXPECT_EQ(rig.shell.toasts.size(), 1u);
}

TEST(AppController, ARefusedShortcutIsToldOncePerBindingAndRebindingReleasesTheOldKeys) {
    ShellRig rig;
    rig.shell.keysFree = false;
    rig.launch();
    ASSERT_EQ(rig.shell.toasts.size(), 1u);
    EXPECT_EQ(rig.shell.toasts[0],
              (ToastSeen{"Shortcut unavailable", "Alt+Shift+C is used by another program", false}));
    EXPECT_TRUE(rig.controller->statusLines().contains("Alt+Shift+C is used by another program"));

    rig.shell.keysFree = true;
    const Hotkey f9{101, 0};
    rig.settings.setSaveHotkey(f9);
    settle();
    ASSERT_EQ(rig.shell.bound.size(), 2u);
    EXPECT_EQ(rig.shell.bound[1], f9);
    EXPECT_EQ(rig.shell.released, std::vector<Hotkey>{Hotkey::defaultSave()})
        << "the old keys are released before the new ones are grabbed";
    EXPECT_EQ(rig.shell.toasts.size(), 1u);
    EXPECT_EQ(rig.controller->hotkeyProblem(), "");

    rig.shell.press();
    ASSERT_TRUE(waitUntil([&] { return !rig.saves.empty(); }));
    EXPECT_EQ(rig.saves, std::vector<double>{30.0});
}

TEST(AppController, WakeRestartsAnActiveRunButLeavesAPausedRecorderAlone) {
    ShellRig rig;
    rig.launch();
    ASSERT_EQ(rig.backend->streams, 1);
    rig.controller->wake();
    ASSERT_TRUE(waitUntil([&] { return rig.backend->streams == 2 && rig.state.recording(); }));

    rig.controller->togglePause();
    ASSERT_TRUE(waitUntil([&] { return rig.state.statusLine() == "Paused"; }));
    rig.controller->wake();
    settle(50);
    EXPECT_EQ(rig.backend->streams, 2);
    EXPECT_EQ(rig.state.statusLine(), "Paused");
}

TEST(AppController, ACaptureSettingsChangeStopsAndSyncsOncePerBurst) {
    ShellRig rig;
    rig.launch();
    ASSERT_EQ(rig.backend->streams, 1);
    rig.settings.setFps(30);
    rig.settings.setMaxHeight(720);
    ASSERT_TRUE(waitUntil([&] { return rig.backend->streams == 2 && rig.state.recording(); }));
    settle(50);
    EXPECT_EQ(rig.backend->streams, 2);
    EXPECT_EQ(rig.capture.buffer()->height(), 360) << "the display is smaller than 720";

    rig.controller->togglePause();
    ASSERT_TRUE(waitUntil([&] { return rig.state.statusLine() == "Paused"; }));
    rig.settings.setFps(60);
    QThread::msleep(700);
    settle(50);
    EXPECT_EQ(rig.backend->streams, 2) << "a settings change does not resume a paused recorder";
}

TEST(AppController, WindowsOpenOnceByIdAndRememberWhereTheyWere) {
    ShellRig rig;
    rig.launch();
    rig.controller->openLibrary();
    QWidget* library = rig.controller->windows().window("library");
    ASSERT_TRUE(library);
    EXPECT_EQ(library->windowTitle(), "Clips");
    EXPECT_EQ(library->size(), QSize(1080, 700));
    rig.controller->openLibrary();
    EXPECT_EQ(rig.controller->windows().window("library"), library);

    rig.controller->openSettings();
    QWidget* settings = rig.controller->windows().window("settings");
    EXPECT_EQ(settings->windowTitle(), "Vantel Record Settings");
    EXPECT_EQ(settings->size(), QSize(560, 680));
    EXPECT_EQ(settings->minimumSize(), settings->maximumSize()) << "not resizable";

    library->move(40, 50);
    settle();
    const QPoint where = library->pos();
    rig.controller->closeWindow("library");
    settle();
    EXPECT_FALSE(rig.controller->windows().isOpen("library"));
    rig.controller->openLibrary();
    EXPECT_EQ(rig.controller->windows().window("library")->pos(), where);
}

TEST(AppController, QuitStopsCaptureAfterARunningSaveAndOnlyOnce) {
    ShellRig rig;
    rig.launch();
    bool release = false;
    rig.saver = [&](double) -> QCoro::Task<Clip> {
        while (!release)
            co_await QCoro::sleepFor(std::chrono::milliseconds(5));
        co_return Clip{"/clips/x.mp4", {}};
    };
    QCoro::Task<SaveResult> save = rig.controller->saveClip();
    QSignalSpy quitting(rig.controller.get(), &AppController::quitting);
    QCoro::Task<> quit = rig.controller->quit();
    rig.controller->quit();
    settle(20);
    EXPECT_TRUE(rig.capture.buffer()) << "the save still reads the buffer";
    EXPECT_EQ(await(rig.controller->saveClip()).kind, Kind::dropped) << "no saves while quitting";
    release = true;
    await(std::move(save));
    await(std::move(quit));
    EXPECT_FALSE(rig.capture.buffer());
    EXPECT_EQ(rig.capture.state(), CaptureController::State::off());
    EXPECT_EQ(quitting.count(), 1);
}

// Automatic uploads as the program's queue runs them: each clip's upload hangs, fails or gives a
// link as the test says; a hanging one ends only when it is cancelled.
struct Uploads {
    std::vector<QString> started;
    std::map<QString, QString> outcome; // clip -> "hang", "fail" or the link
    bool sawCancel = false;

    // A coroutine of its own (not a capturing lambda): the queue may drop the function object
    // while an upload it cut short still runs on.
    static QCoro::Task<std::optional<QString>> upload(Uploads* self, Clip clip,
                                                      std::shared_ptr<Cancellation> cancellation) {
        self->started.push_back(clip.url);
        const QString what = self->outcome[clip.url];
        while (what == "hang" && !cancellation->cancelled())
            co_await QCoro::sleepFor(std::chrono::milliseconds(5));
        if (cancellation->cancelled()) {
            self->sawCancel = true;
            throw Cancelled();
        }
        if (what == "fail")
            throw std::runtime_error("The sharing service said 503.");
        co_return what;
    }

    AppController::AutoShare autoShare(bool wanted = true) {
        return {[wanted] { return wanted; },
                [this](Clip clip, std::shared_ptr<Cancellation> cancellation) {
                    return upload(this, std::move(clip), std::move(cancellation));
                }};
    }
};

void numberedSaves(ShellRig& rig) {
    rig.saver = [&rig](double seconds) -> QCoro::Task<Clip> {
        rig.saves.push_back(seconds);
        Clip clip;
        clip.url = QStringLiteral("/clips/Desktop/Desktop %1.mp4").arg(rig.saves.size());
        clip.meta.game = "Desktop";
        clip.meta.duration = seconds;
        co_return clip;
    };
}

TEST(AppController, AnUploadRunsBesideLaterSavesOneAtATimeAndQuitStopsIt) {
    Uploads uploads; // outlives the rig, whose end stops what still runs
    ShellRig rig;
    numberedSaves(rig);
    uploads.outcome = {{"/clips/Desktop/Desktop 1.mp4", "hang"},
                       {"/clips/Desktop/Desktop 2.mp4", "hang"}};
    rig.controller->setAutoShare(uploads.autoShare());
    rig.launch();

    const SaveResult first = await(rig.controller->saveClip(5.0));
    EXPECT_EQ(first.kind, Kind::saved);
    EXPECT_TRUE(first.sharing);
    EXPECT_FALSE(rig.controller->saving()) << "the save ends when the clip is in the library";
    const SaveResult second = await(rig.controller->saveClip(5.0));
    EXPECT_EQ(second.kind, Kind::saved) << "a save during an upload is not dropped";
    EXPECT_EQ(second.clip.url, "/clips/Desktop/Desktop 2.mp4");
    settle(20);
    EXPECT_EQ(uploads.started, std::vector<QString>{"/clips/Desktop/Desktop 1.mp4"})
        << "one upload at a time";
    EXPECT_EQ(rig.controller->uploads().pending(), 2);
    EXPECT_EQ(rig.shell.toasts.size(), 2u);

    QElapsedTimer clock;
    clock.start();
    await(rig.controller->quit());
    EXPECT_LT(clock.elapsed(), 5000);
    EXPECT_TRUE(waitUntil([&] { return uploads.sawCancel; })) << "the upload was told to stop";
    EXPECT_EQ(rig.controller->uploads().pending(), 0);
    EXPECT_EQ(uploads.started.size(), 1u) << "the waiting clip is not started at quit";
    EXPECT_FALSE(rig.capture.buffer());
    ASSERT_EQ(rig.shell.toasts.size(), 2u) << "a stopped upload is not a failure";
    EXPECT_EQ(rig.shell.toasts[1].title, "Clip saved");
}

TEST(AppController, UploadsTellTheirOwnOutcomeAndNeverFailTheSave) {
    Uploads uploads; // outlives the rig, whose end stops what still runs
    ShellRig rig;
    numberedSaves(rig);
    uploads.outcome = {{"/clips/Desktop/Desktop 1.mp4", "fail"},
                       {"/clips/Desktop/Desktop 2.mp4", "https://example.org/c/2"}};
    rig.controller->setAutoShare(uploads.autoShare());
    rig.launch();
    EXPECT_EQ(await(rig.controller->saveClip(3.0)).kind, Kind::saved);
    EXPECT_EQ(await(rig.controller->saveClip(3.0)).kind, Kind::saved);
    ASSERT_TRUE(waitUntil([&] { return rig.controller->uploads().pending() == 0; }));
    std::vector<ToastSeen> told;
    int saved = 0;
    for (const ToastSeen& toast : rig.shell.toasts) {
        if (toast.title == "Clip saved")
            ++saved;
        else
            told.push_back(toast);
    }
    EXPECT_EQ(saved, 2);
    ASSERT_EQ(told.size(), 2u);
    EXPECT_EQ(told[0].title, "Couldn't share the clip");
    EXPECT_EQ(told[0].detail, "The sharing service said 503.");
    EXPECT_FALSE(told[0].ok);
    EXPECT_EQ(told[1].title, "Link copied");
    EXPECT_EQ(told[1].detail, "https://example.org/c/2");

    rig.controller->setAutoShare(uploads.autoShare(false));
    const SaveResult unshared = await(rig.controller->saveClip(3.0));
    EXPECT_FALSE(unshared.sharing);
    settle();
    EXPECT_EQ(uploads.started.size(), 2u) << "nothing uploaded while sharing does not apply";
}

TEST(AppController, OnlyTheProgramsOwnUrlsArePassedOn) {
    ShellRig rig;
    std::vector<QString> handled;
    rig.controller->setUrlHandler([&](const QString& url) { handled.push_back(url); });
    rig.controller->openUrl("vantelrecord://auth?code=abc");
    rig.controller->openUrl("https://example.org/auth?code=abc");
    rig.controller->openUrl("VantelRecord://AUTH?code=def");
    ASSERT_EQ(handled.size(), 2u);
    EXPECT_EQ(handled[0], "vantelrecord://auth?code=abc");
    EXPECT_EQ(handled[1], "VantelRecord://AUTH?code=def"); // as given: the account judges it
}

} // namespace
} // namespace vantel::test
