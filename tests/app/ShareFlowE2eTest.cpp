// The program's uploads end to end: automatic sharing after saves against a service that never
// answers, quitting and crashing in the middle of a share, and the command line's long and
// stuck requests. The program runs in a home of its own (ProgramRig.h), signed in through the
// file keychain.

#include "E2eSupport.h"
#include "ProgramRig.h"
#include "common/TestEnv.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalServer>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTcpServer>
#include <QThread>
#include <QUuid>
#include <chrono>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

namespace vantel {
namespace {

using namespace std::chrono_literals;
using e2e::waitUntil;
using namespace e2e::program;

const QString kToken = QStringLiteral("e2e-token-1");

// A home whose user is signed in to the service at `site`, recording the desktop.
void signIn(Home& home, const QString& site, bool autoShare) {
    home.onboard(10);
    QSettings settings(home.path("config/vantel-record/settings.ini"), QSettings::IniFormat);
    settings.setValue("autoShare", autoShare);
    settings.setValue("user", QByteArray(R"({"id":"u-1","name":"Player One","avatar":null})"));
    settings.sync();
    QDir().mkpath(home.path("data/vantel-record"));
    QFile token(home.path("data/vantel-record/keychain-token"));
    ASSERT_TRUE(token.open(QIODevice::WriteOnly));
    token.write(kToken.toUtf8());
    token.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    home.env.insert("VANTEL_KEYCHAIN", "file");
    home.env.insert("VANTEL_SITE_URL", site);
}

int shareFolders(const Home& home) {
    return int(QDir(home.path("tmp")).entryList({"share-*"}, QDir::Dirs).size());
}

// A service that takes connections and never says a word: every upload to it hangs.
struct SilentService {
    QTcpServer server;
    SilentService() { server.listen(QHostAddress::LocalHost); }
    QString site() const { return QStringLiteral("http://127.0.0.1:%1/").arg(server.serverPort()); }
};

TEST(ShareFlow, SavesGoOnDuringAHangingUploadAndQuitNeitherWaitsNorLeavesItsFolder) {
    SilentService service;
    Home home;
    signIn(home, service.site(), true);
    {
        Program program(home);
        ASSERT_TRUE(home.waitForStatus("Recording Desktop"));
        ASSERT_TRUE(home.waitForReady(3));
        QElapsedTimer clock;
        clock.start();
        const Outcome first = home.cli({"save", "2"});
        ASSERT_LT(clock.elapsed(), 30000) << "the save waited for its upload";
        ASSERT_EQ(first.status, 0) << first.err.toStdString();
        EXPECT_TRUE(first.err.contains("Uploading it now")) << first.err.toStdString();
        const Outcome second = home.cli({"save", "2"});
        ASSERT_EQ(second.status, 0) << "not dropped: " << second.err.toStdString();
        EXPECT_NE(first.out, second.out);
        EXPECT_EQ(home.clips().size(), 2u);
        EXPECT_EQ(home.toasts().filter("Clip saved").size(), 2);

        // One upload at a time: the first one's folder, the second clip waiting.
        ASSERT_TRUE(waitUntil([&] { return shareFolders(home) == 1; }, 20s));
        QThread::msleep(1000);
        EXPECT_EQ(shareFolders(home), 1);
        const qint64 ms = program.terminate();
        EXPECT_GE(ms, 0) << "still running 10 s after SIGTERM";
        EXPECT_LT(ms, 5000);
        EXPECT_EQ(program.exitCode(), 0);
        EXPECT_EQ(shareFolders(home), 0);
        EXPECT_EQ(home.toasts().filter("Couldn't").size(), 0)
            << "a stopped upload is no failure: " << home.toasts().join('\n').toStdString();
    }

    // A crash mid-upload leaves the folder; the next start removes it, and only it.
    const QString unmarked =
        home.path("tmp") + "/share-" + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    ASSERT_TRUE(QDir().mkpath(unmarked));
    const QString alive =
        home.path("tmp") + "/share-" + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    ASSERT_TRUE(QDir().mkpath(alive));
    const QByteArray lockPath = QFile::encodeName(alive + "/owner.lock");
    const int held = ::open(lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX), 0) << "this test plays a live process sharing a clip";
    const QByteArray pid = QByteArray::number(::getpid()) + "\n";
    ASSERT_EQ(::write(held, pid.constData(), pid.size()), pid.size());
    {
        Program program(home);
        ASSERT_TRUE(home.waitForReady(3));
        ASSERT_EQ(home.cli({"save", "2"}).status, 0);
        ASSERT_TRUE(waitUntil([&] { return shareFolders(home) == 3; }, 20s));
        program.kill();
    }
    EXPECT_EQ(shareFolders(home), 3) << "a crash cleans nothing up";
    {
        Program program(home);
        ASSERT_TRUE(home.waitForStatus("Recording Desktop"));
        EXPECT_EQ(shareFolders(home), 2);
        EXPECT_TRUE(QFileInfo::exists(unmarked)) << "a folder without an owner is not ours";
        EXPECT_TRUE(QFileInfo::exists(alive + "/owner.lock")) << "its owner still runs";
    }
    ::close(held);
}

TEST(ShareFlow, TheCommandLineTellsTheProgressOfALongShareAndWaitsForTheLink) {
    QProcess service;
    service.start(QStringLiteral(VANTEL_TEST_SERVICE), {"--token", kToken});
    ASSERT_TRUE(service.waitForReadyRead(20000));
    const QByteArray port = service.readLine().mid(6).trimmed();
    Home home;
    signIn(home, "http://127.0.0.1:" + QString::fromLatin1(port) + "/", false);
    Program program(home);
    ASSERT_TRUE(home.waitForReady(3));
    const Outcome saved = home.cli({"save", "2"});
    ASSERT_EQ(saved.status, 0) << saved.err.toStdString();
    EXPECT_EQ(saved.err, "") << "no automatic sharing";

    const Outcome shared = home.cli({"share", saved.out.trimmed()});
    EXPECT_EQ(shared.status, 0) << shared.err.toStdString();
    EXPECT_TRUE(shared.out.startsWith("http://127.0.0.1:" + QString::fromLatin1(port) + "/c/"))
        << shared.out.toStdString();
    const QStringList steps = shared.err.split('\n', Qt::SkipEmptyParts);
    EXPECT_TRUE(steps.contains("Preparing 0%")) << shared.err.toStdString();
    EXPECT_EQ(steps.value(steps.size() - 1), "Done 100%") << shared.err.toStdString();
    EXPECT_TRUE(steps.filter(QRegularExpression("^Uploading \\d+%$")).size() >= 1);
    EXPECT_EQ(shareFolders(home), 0);
    service.kill();
    service.waitForFinished();
}

TEST(ShareFlow, AProgramThatTakesTheRequestButNeverAnswersIsNotCalledAbsent) {
    Home home;
    ASSERT_TRUE(QDir().mkpath(home.path("run/vantel-record")));
    QLocalServer stuck;
    ASSERT_TRUE(stuck.listen(home.path("run/vantel-record/instance.sock")));
    const Outcome status = home.cli({"status"});
    EXPECT_EQ(status.status, 1);
    EXPECT_TRUE(status.err.startsWith("Vantel Record stopped answering."))
        << status.err.toStdString();
    stuck.close();
    EXPECT_EQ(home.cli({"status"}).err, "Vantel Record is not running.\n");
}

} // namespace
} // namespace vantel
