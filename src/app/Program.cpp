#include "Program.h"

#include "AppController.h"
#include "DesktopShell.h"
#include "InstanceClient.h"
#include "InstanceServer.h"
#include "SharedServices.h"
#include "TerminationSignals.h"
#include "WindowFactory.h"
#include "engine/GameDetector.h"
#include "library/Clips.h"
#include "platform/freedesktop/SleepWatcher.h"
#include "settings/Settings.h"
#include "sharing/Account.h"
#include "sharing/Sharing.h"
#include "ui/Theme.h"

#include <QApplication>
#include <QTextStream>

namespace vantel {

namespace {
constexpr int kSaveReplyMs = 120000;
constexpr int kReplyMs = 10000;

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

// The sharing account and uploads: commands, the sign-in's toasts, the scheme's URLs and the
// automatic sharing after a save.
void serveSharing(InstanceServer& server, AppController& controller, ShellServices& shell) {
    using instance::Reply;
    Account& account = Account::shared();
    server.handle(instance::command::signIn, [&account](QStringList) -> QCoro::Task<Reply> {
        account.signIn();
        co_return Reply::success();
    });
    server.handle(instance::command::signOut, [&account](QStringList) -> QCoro::Task<Reply> {
        account.signOut();
        co_return Reply::success();
    });
    server.handle(instance::command::share, [](QStringList args) -> QCoro::Task<Reply> {
        QStringList link;
        QStringList failure;
        try {
            auto sharing = Sharing::shareLibraryFile(args.value(0));
            link.append(co_await std::move(sharing));
        } catch (const std::exception& error) {
            failure.append(QString::fromUtf8(error.what()));
        }
        co_return failure.isEmpty() ? Reply::success(link) : Reply::failure(failure);
    });
    QObject::connect(&account, &Account::signedIn, &controller, [&shell](const QString& detail) {
        shell.toast(QStringLiteral("Signed in"), detail, true);
    });
    QObject::connect(&account, &Account::signInFailed, &controller,
                     [&shell](const QString& detail) {
                         shell.toast(QStringLiteral("Sign-in failed"), detail, false);
                     });
    controller.setUrlHandler([&account](const QString& url) { account.handle(url); });
    controller.setAutoShare([](Clip clip) { return Sharing::shareAfterSave(std::move(clip)); });
}

bool hasDisplay() {
    return !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}
} // namespace

int runInstance(int& argc, char** argv, const Invocation& invocation) {
    if (!hasDisplay()) {
        QTextStream(stderr) << "vantel-record: no desktop to show the tray icon on "
                               "(neither DISPLAY nor WAYLAND_DISPLAY is set)\n";
        return 1;
    }
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setDesktopFileName(QStringLiteral("vantel-record"));
    Theme::installLook();
    SharedServices::wireShared();
    DesktopShell shell;
    AppController controller({Settings::shared(), Capture::shared(), &GameDetector::shared(),
                              AppState::shared(), shell,
                              [](const QString& id) { return createWindowContent(id); },
                              [](double seconds) { return Clips::saveFromBuffer(seconds); },
                              QCoreApplication::applicationVersion()});
    InstanceServer server;
    if (!server.listen(instance::socketPath())) {
        QTextStream(stderr) << "vantel-record: cannot open " << instance::socketPath() << ": "
                            << server.errorText() << '\n';
        return 1;
    }
    serveController(server, controller);
    serveSharing(server, controller, shell);
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
    return app.exec();
}

int runCommand(const Invocation& invocation) {
    QTextStream out(stdout);
    QTextStream err(stderr);
    const bool slow =
        invocation.kind == Invocation::Kind::save || invocation.kind == Invocation::Kind::share;
    const int wait = slow ? kSaveReplyMs : kReplyMs;
    const std::optional<instance::Reply> reply =
        InstanceClient::send(instance::socketPath(), requestFor(invocation), wait);
    if (!reply) {
        err << "Vantel Record is not running.\n";
        return 1;
    }
    for (const QString& line : reply->out)
        out << line << '\n';
    for (const QString& line : reply->err)
        err << line << '\n';
    return reply->ok ? 0 : 1;
}

} // namespace vantel
