#include "ProgramMain.h"

#include "CommandLine.h"
#include "InstanceClient.h"
#include "InstanceProtocol.h"
#include "Program.h"

#include <QCoreApplication>
#include <QLockFile>
#include <QTextStream>
#include <QThread>

namespace {

using vantel::Invocation;

// The program must run as the instance when this process takes the lock; otherwise another
// process is the instance (or is becoming it: give it a moment to listen).
bool becomeInstance(QLockFile& lock) {
    lock.setStaleLockTime(0);
    return lock.tryLock(0);
}

void waitForInstance() {
    for (int i = 0; i < 50 && !vantel::InstanceClient::reachable(vantel::instance::socketPath());
         ++i)
        QThread::msleep(100);
}

int askInstance(int argc, char** argv, const Invocation& invocation, bool waitForIt) {
    QCoreApplication app(argc, argv);
    if (waitForIt)
        waitForInstance();
    return vantel::runCommand(invocation);
}

} // namespace

namespace vantel {

int startProgram(int argc, char** argv, const ProgramHooks& hooks) {
    QCoreApplication::setApplicationName(QStringLiteral("vantel-record"));
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const Invocation invocation = vantel::parseCommandLine(arguments);
    switch (invocation.kind) {
    case Invocation::Kind::version:
        QTextStream(stdout) << QCoreApplication::applicationVersion() << '\n';
        return 0;
    case Invocation::Kind::help:
        QTextStream(stdout) << vantel::usageText();
        return 0;
    case Invocation::Kind::invalid:
        QTextStream(stderr) << "vantel-record: " << invocation.error << "\n\n"
                            << vantel::usageText();
        return 2;
    case Invocation::Kind::save:
    case Invocation::Kind::status:
    case Invocation::Kind::signIn:
    case Invocation::Kind::signOut:
    case Invocation::Kind::share:
        return askInstance(argc, argv, invocation, false);
    case Invocation::Kind::run:
    case Invocation::Kind::url:
        break;
    }
    QLockFile lock(vantel::instance::lockPath());
    if (!becomeInstance(lock))
        return askInstance(argc, argv, invocation, true);
    return vantel::runInstance(argc, argv, invocation, hooks);
}

} // namespace vantel
