#include "Program.h"

#include "AppController.h"
#include "AppState.h"
#include "BackendOverrides.h"
#include "EngineWiring.h"
#include "InstanceClient.h"
#include "InstanceServer.h"
#include "SystemDesktop.h"
#include "TerminationSignals.h"
#include "Toast.h"
#include "WindowFactory.h"
#include "engine/CaptureController.h"
#include "engine/GameDetector.h"
#include "library/Clips.h"
#include "library/Library.h"
#include "platform/freedesktop/DesktopEntries.h"
#include "platform/freedesktop/SleepWatcher.h"
#include "settings/Settings.h"
#include "sharing/API.h"
#include "sharing/Account.h"
#include "sharing/Sharing.h"
#include "sharing/WorkFolder.h"
#include "ui/AccountShareService.h"
#include "ui/Theme.h"

#include <QApplication>
#include <QPointer>
#include <QTextStream>
#include <QThread>
#include <algorithm>
#include <cmath>
#include <memory>

namespace vantel {

namespace {

instance::Request requestFor(const Invocation& invocation) {
    switch (invocation.kind) {
    case Invocation::Kind::save:
        return {instance::command::save, invocation.seconds
                                             ? QStringList{QString::number(*invocation.seconds)}
                                             : QStringList{}};
    case Invocation::Kind::status:
        return {instance::command::status, {}};
    case Invocation::Kind::url:
        return {instance::command::url, {invocation.url}};
    case Invocation::Kind::signIn:
        return {instance::command::signIn, {}};
    case Invocation::Kind::signOut:
        return {instance::command::signOut, {}};
    case Invocation::Kind::share:
        return {instance::command::share, {invocation.file}};
    default:
        return {instance::command::open, {}};
    }
}

instance::Reply replyFor(const SaveResult& result, const QStringList& statusLines) {
    switch (result.kind) {
    case SaveResult::Kind::saved:
        if (result.sharing)
            return {true,
                    {result.clip.url},
                    {QStringLiteral("Uploading it now: the link is copied when it's done.")}};
        return instance::Reply::success({result.clip.url});
    case SaveResult::Kind::dropped:
        return instance::Reply::failure({QStringLiteral("A clip is being saved already.")});
    case SaveResult::Kind::notRecording:
        return instance::Reply::failure(QStringList{QStringLiteral("Not recording")} + statusLines);
    case SaveResult::Kind::failed:
        break;
    }
    return instance::Reply::failure({result.detail});
}

void serveController(InstanceServer& server, AppController& controller) {
    using instance::Reply;
    server.handle(instance::command::open, [&controller](QStringList) -> QCoro::Task<Reply> {
        controller.openLibrary();
        co_return Reply::success();
    });
    server.handle(instance::command::status, [&controller](QStringList) -> QCoro::Task<Reply> {
        co_return Reply::success(controller.statusLines());
    });
    server.handle(instance::command::url, [&controller](QStringList args) -> QCoro::Task<Reply> {
        for (const QString& url : args)
            controller.openUrl(url);
        co_return Reply::success();
    });
    server.handle(instance::command::save, [&controller](QStringList args) -> QCoro::Task<Reply> {
        std::optional<double> seconds;
        if (!args.isEmpty())
            seconds = args.first().toDouble();
        const SaveResult result = co_await controller.saveClip(seconds);
        co_return replyFor(result, controller.statusLines());
    });
}

// A share's progress as the command line prints it ("Uploading 40%"), each text once, sent from
// the main thread whatever thread reports it. Reports of the main thread go out at once, so the
// last ones are not overtaken by the reply.
Sharing::Progress progressLines(InstanceServer::ProgressSink sink) {
    auto last = std::make_shared<QString>();
    return [sink = std::move(sink), last](const QString& label, double fraction) {
        const QString text =
            label + QStringLiteral(" %1%").arg(std::lround(std::clamp(fraction, 0.0, 1.0) * 100));
        auto send = [sink, last, text] {
            if (*last == text)
                return;
            *last = text;
            sink(text);
        };
        QObject* app = QCoreApplication::instance();
        if (QThread::currentThread() == app->thread())
            send();
        else
            QMetaObject::invokeMethod(app, send, Qt::QueuedConnection);
    };
}

QCoro::Task<instance::Reply> shareFile(QString file, InstanceServer::ProgressSink progress,
                                       Library& library, std::shared_ptr<Cancellation> uploads) {
    Sharing::Services services = Sharing::Services::standard(library);
    services.cancellation = std::move(uploads);
    QStringList link;
    QStringList failure;
    try {
        auto sharing =
            Sharing::shareLibraryFile(file, services, progressLines(std::move(progress)));
        link.append(co_await std::move(sharing));
    } catch (const Cancelled&) {
        failure.append(QStringLiteral("Vantel Record quit before the upload was done."));
    } catch (const std::exception& error) {
        failure.append(QString::fromUtf8(error.what()));
    }
    co_return failure.isEmpty() ? instance::Reply::success(link)
                                : instance::Reply::failure(failure);
}

// The program's services, built once here in the order they need each other and handed down to
// whatever uses them; destroyed in the reverse order once the event loop has ended, before the
// application object. The settings store, the desktop entries, the library and the account are
// the same objects the settings window still reaches by itself. The backends are the ones
// `backends` chooses; the test build's hooks hear of every toast.
struct ProgramServices {
    ProgramServices(const BackendOverrides& chosen, const ProgramHooks& programHooks)
        : backends(chosen)
        , hooks(programHooks) {
        if (backends.toast)
            toast.setPresentation(*backends.toast);
        EngineWiring::wire(settings, capture, detector);
        API::setRejectedTokenListener([this](const QString& token) { account.lost(token); });
        // What the library has to tell the user (a damaged index, found as it starts) is a toast.
        QObject::connect(&library, &Library::problem, &toast,
                         [this](const QString& title, const QString& detail) {
                             toast.show(title, detail, ToastKind::problem);
                         });
    }
    ~ProgramServices() { API::setRejectedTokenListener({}); }
    ProgramServices(const ProgramServices&) = delete;
    ProgramServices& operator=(const ProgramServices&) = delete;

    const BackendOverrides& backends;
    const ProgramHooks& hooks;
    Settings& settings = Settings::shared();
    platform::DesktopEntries& entries = platform::DesktopEntries::shared();
    Library& library = Library::shared();
    Account& account = Account::shared();
    GameDetector detector{platform::createWorkspace(entries, backends.workspace)};
    CaptureController capture{platform::createCaptureBackend(backends.capture)};
    AppState state{settings.store()};
    Toast toast{[this] {
                    const std::optional<GameTarget> target = capture.target();
                    return target ? target->displayID : std::nullopt;
                },
                [this] {
                    return detector.workspace().monitors();
                }};
    // Fired by the controller's quit(): stops the automatic uploads, the clips window's shares
    // and those of the command line.
    std::shared_ptr<Cancellation> uploads = std::make_shared<Cancellation>();
    AccountShareService sharing{account, library, uploads};
    SystemDesktop shell{toast, capture, hooks.toastShown};
};

// The sharing account and uploads: commands, the sign-in's toasts, the scheme's URLs and the
// automatic sharing after a save.
void serveSharing(InstanceServer& server, AppController& controller, ProgramServices& services) {
    using instance::Reply;
    Account& account = services.account;
    Library& library = services.library;
    ControllerDesktop& shell = services.shell;
    const std::shared_ptr<Cancellation>& uploads = services.uploads;
    server.handle(instance::command::signIn, [&account](QStringList) -> QCoro::Task<Reply> {
        account.signIn();
        co_return Reply::success();
    });
    server.handle(instance::command::signOut, [&account](QStringList) -> QCoro::Task<Reply> {
        account.signOut();
        co_return Reply::success();
    });
    server.handleWithProgress(
        instance::command::share,
        [&library, uploads](QStringList args, InstanceServer::ProgressSink progress) {
            return shareFile(args.value(0), std::move(progress), library, uploads);
        });
    QObject::connect(&account, &Account::signedIn, &controller, [&shell](const QString& detail) {
        shell.toast(QStringLiteral("Signed in"), detail, ToastKind::success);
    });
    QObject::connect(&account, &Account::signInFailed, &controller,
                     [&shell](const QString& detail) {
                         shell.toast(QStringLiteral("Sign-in failed"), detail, ToastKind::problem);
                     });
    controller.setUrlHandler([&account](const QString& url) { account.handle(url); });
    const Settings& settings = services.settings;
    controller.setAutoShare(
        {[&settings, &account] { return Sharing::sharesAfterSave(settings, account); },
         [&settings, &account, &library](Clip clip, std::shared_ptr<Cancellation> cancellation) {
             Sharing::Services sharing = Sharing::Services::standard(library);
             sharing.cancellation = std::move(cancellation);
             return Sharing::shareAfterSave(std::move(clip), settings, account, std::move(sharing));
         }});
}

// The backends the environment (and a test build) forces, handed to their makers before
// anything is made.
BackendOverrides chooseBackends(const ProgramHooks& hooks) {
    BackendOverrides backends = BackendOverrides::fromEnvironment();
    if (hooks.adjustBackends)
        hooks.adjustBackends(backends);
    backends.applyProcessWide();
    return backends;
}

WindowManager::Factory windowsFor(const WindowFactory& windows, const ProgramHooks& hooks) {
    return [&windows, made = hooks.windowMade](const QString& id) {
        QWidget* content = windows.create(id);
        if (made)
            made(id, content);
        return content;
    };
}

bool hasDisplay() {
    return !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}
} // namespace

int runInstance(int& argc, char** argv, const Invocation& invocation, const ProgramHooks& hooks) {
    if (!hasDisplay()) {
        QTextStream(stderr) << "vantel-record: no desktop to show the tray icon on "
                               "(neither DISPLAY nor WAYLAND_DISPLAY is set)\n";
        return 1;
    }
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setDesktopFileName(QStringLiteral("vantel-record"));
    Theme::installLook();
    const BackendOverrides backends = chooseBackends(hooks);
    ProgramServices services(backends, hooks);
    // Share folders of an earlier run that quit or crashed mid-upload: a full render each.
    WorkFolder::removeLeftovers(WorkFolder::Whose::ended);
    const WindowFactory windows({services.settings, services.capture, services.library,
                                 services.state, services.toast, services.sharing});
    CaptureController& capture = services.capture;
    Library& library = services.library;
    AppController controller({services.settings, capture, &services.detector, services.state,
                              services.shell, windowsFor(windows, hooks),
                              [&capture, &library, copy = backends.copy](double seconds) {
                                  return Clips::saveFromBuffer(capture, library, seconds, copy);
                              },
                              QCoreApplication::applicationVersion(), services.uploads});
    InstanceServer server;
    if (!server.listen(instance::socketPath())) {
        QTextStream(stderr) << "vantel-record: cannot open " << instance::socketPath() << ": "
                            << server.errorText() << '\n';
        return 1;
    }
    serveController(server, controller);
    serveSharing(server, controller, services);
    platform::SleepWatcher sleepWatcher;
    QObject::connect(&sleepWatcher, &platform::SleepWatcher::woke, &controller,
                     &AppController::wake);
    TerminationSignals terminations;
    QObject::connect(&terminations, &TerminationSignals::requested, &controller,
                     [&controller] { controller.quit(); });
    QObject::connect(&controller, &AppController::quitting, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    controller.launch();
    if (invocation.kind == Invocation::Kind::url)
        controller.openUrl(invocation.url);
    const int status = app.exec();
    // The stopped uploads removed their folders as they ended; this catches any that could not.
    WorkFolder::removeLeftovers(WorkFolder::Whose::endedAndOwn);
    return status;
}

int runCommand(const Invocation& invocation) {
    QTextStream out(stdout);
    QTextStream err(stderr);
    const InstanceClient::Answer answer = InstanceClient::ask(
        instance::socketPath(), requestFor(invocation), InstanceClient::kQuietMs,
        [&err](const QString& text) { err << text << Qt::endl; });
    if (answer.kind != InstanceClient::Answer::Kind::replied) {
        err << InstanceClient::failureText(answer.kind) << '\n';
        return 1;
    }
    for (const QString& line : answer.reply.out)
        out << line << '\n';
    for (const QString& line : answer.reply.err)
        err << line << '\n';
    return answer.reply.ok ? 0 : 1;
}

} // namespace vantel
