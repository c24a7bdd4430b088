// The real tray program against the real vantel-share (embedded default: SQLite and files),
// inside the end-to-end session: Xvfb, the session bus with an unlocked gnome-keyring,
// PulseAudio. The desktop's handlers are real: the program opens the sign-in page with the
// desktop's http handler, our stand-in browser, which presses "Sign in with Discord", passes a
// stand-in Discord of this test and hands "vantelrecord://auth?code=..." to xdg-open, which
// gives it to the running program. Then a saved clip is shared automatically, the command line
// shares one, and signing out ends the token on the service.

#include "ServerRig.h"
#ifdef VANTEL_TEST_SCALED
#include "PgCluster.h"
#include "S3Standin.h"
#endif
#include "common/Shell.h"
#include "common/TestEnv.h"

#include <QDBusConnection>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>

namespace vantel::test {
namespace {

const QString program = QStringLiteral(VANTEL_PROGRAM);
const QString browser = QStringLiteral(VANTEL_SIGN_IN_BROWSER);

QString home() {
    return QString::fromStdString(testHome().string());
}

class Notifications : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    QStringList shown; // "summary|body"

public slots:
    uint Notify(const QString&, uint, const QString&, const QString& summary, const QString& body,
                const QStringList&, const QVariantMap&, int) {
        shown.append(summary + u'|' + body);
        return uint(shown.size());
    }
};

struct Outcome {
    int status = -1;
    QString out, err;
};

bool waitFor(const std::function<bool()>& condition, int ms = 60000) {
    return QTest::qWaitFor(condition, ms);
}

void writeText(const QString& path, const QString& text) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text.toUtf8());
}

class ProgramAgainstServer : public ::testing::Test {
protected:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            GTEST_SKIP() << "needs the end-to-end session";
        ASSERT_TRUE(m_server->running());
        m_site = QString::fromStdString(m_server->base());
        m_env = QProcessEnvironment::systemEnvironment();
        m_env.insert("HOME", home());
        m_env.insert("XDG_RUNTIME_DIR", home() + "/runtime");
        m_env.insert("VANTEL_TOAST", "notification");
        m_env.insert("VANTEL_TEST_BROWSER_LOG", home() + "/browser.log");
        m_env.insert("VANTEL_SITE_URL", m_site);
        QDir().mkpath(home() + "/runtime");
        QFile::setPermissions(home() + "/runtime", QFileDevice::ReadOwner |
                                                       QFileDevice::WriteOwner |
                                                       QFileDevice::ExeOwner);
        registerHandlers();
        QDBusConnection bus = QDBusConnection::sessionBus();
        ASSERT_TRUE(bus.registerService("org.freedesktop.Notifications"));
        ASSERT_TRUE(bus.registerObject("/org/freedesktop/Notifications", &m_notifications,
                                       QDBusConnection::ExportAllSlots));
        QSettings settings(qEnvironmentVariable("XDG_CONFIG_HOME") + "/vantel-record/settings.ini",
                           QSettings::IniFormat);
        settings.setValue("onboarded", true);
        settings.setValue("mode", "always");
        settings.setValue("autoShare", false);
    }

    void TearDown() override {
        stopProgram();
        QDBusConnection bus = QDBusConnection::sessionBus();
        bus.unregisterObject("/org/freedesktop/Notifications");
        bus.unregisterService("org.freedesktop.Notifications");
        QProcess::execute("secret-tool", {"clear", "server", "vantel-record", "user", "token"});
        EXPECT_EQ(m_server->stop(), "");
    }

    void registerHandlers() {
        const QString apps = qEnvironmentVariable("XDG_DATA_HOME") + "/applications";
        writeText(apps + "/vantel-record.desktop",
                  "[Desktop Entry]\nType=Application\nName=Vantel Record\nExec=" + program +
                      " %u\nMimeType=x-scheme-handler/vantelrecord;\nNoDisplay=true\n");
        writeText(apps + "/vantel-test-sign-in-browser.desktop",
                  "[Desktop Entry]\nType=Application\nName=Test Browser\nExec=" + browser +
                      " %u\nMimeType=x-scheme-handler/http;x-scheme-handler/https;\n"
                      "NoDisplay=true\n");
        ASSERT_EQ(tool("update-desktop-database", {apps}).status, 0);
        ASSERT_EQ(
            tool("xdg-mime", {"default", "vantel-record.desktop", "x-scheme-handler/vantelrecord"})
                .status,
            0);
        for (const QString scheme : {"http", "https"})
            ASSERT_EQ(tool("xdg-mime", {"default", "vantel-test-sign-in-browser.desktop",
                                        "x-scheme-handler/" + scheme})
                          .status,
                      0);
    }

    Outcome tool(const QString& name, const QStringList& arguments, int ms = 60000) {
        QProcess p;
        p.setProcessEnvironment(m_env);
        p.start(name, arguments);
        Outcome outcome;
        if (!waitFor([&] { return p.state() == QProcess::NotRunning; }, ms))
            p.kill();
        p.waitForFinished();
        outcome.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        outcome.out = QString::fromUtf8(p.readAllStandardOutput());
        outcome.err = QString::fromUtf8(p.readAllStandardError());
        return outcome;
    }

    Outcome command(const QStringList& arguments, int ms = 180000) {
        return tool(program, arguments, ms);
    }

    void startProgram() {
        m_program = std::make_unique<QProcess>();
        m_program->setProcessEnvironment(m_env);
        m_program->start(program, {});
        ASSERT_TRUE(m_program->waitForStarted());
        ASSERT_TRUE(waitFor([&] { return command({"status"}).status == 0; }))
            << m_program->readAllStandardError().toStdString();
    }

    void stopProgram() {
        if (!m_program)
            return;
        m_program->terminate();
        if (!waitFor([&] { return m_program->state() == QProcess::NotRunning; }, 30000))
            m_program->kill();
        m_program->waitForFinished();
        m_program.reset();
    }

    QString keyringToken() {
        return tool("secret-tool", {"lookup", "server", "vantel-record", "user", "token"}).out;
    }

    QJsonObject libraryEntry(const QString& clipPath) const {
        const QJsonObject index =
            QJsonDocument::fromJson(
                readAll(qEnvironmentVariable("XDG_DATA_HOME") + "/vantel-record/library.json"))
                .object();
        for (auto it = index.begin(); it != index.end(); ++it)
            if (clipPath.endsWith(it.key()))
                return it.value().toObject();
        return {};
    }

#ifdef VANTEL_TEST_SCALED
    // The same service with its catalog on PostgreSQL and its files in the S3 stand-in (whose
    // multipart uploads want parts of 5 MiB or more).
    std::unique_ptr<PgCluster> m_postgres = std::make_unique<PgCluster>();
    std::unique_ptr<S3Standin> m_s3 = std::make_unique<S3Standin>();
    QStringList storage() {
        return {"--database",      m_postgres->url(m_postgres->createDatabase("share")),
                "--s3-endpoint",   m_s3->endpoint(),
                "--s3-bucket",     "clips",
                "--s3-access-key", "S3RVER",
                "--s3-secret-key", "S3RVER",
                "--part-size",     "5242880"};
    }
#else
    QStringList storage() {
        return {"--part-size", "1000000"};
    }
#endif
    std::unique_ptr<StandInDiscord> m_discord = std::make_unique<StandInDiscord>();
    std::unique_ptr<ShareProcess> m_server =
        std::make_unique<ShareProcess>(m_discord->settings() + storage());
    QString m_site;
    QProcessEnvironment m_env;
    std::unique_ptr<QProcess> m_program;
    Notifications m_notifications;
};

TEST_F(ProgramAgainstServer, SignsInThroughDiscordSharesEverySavedClipAndSignsOut) {
    startProgram();
    ASSERT_EQ(command({"sign-in"}).status, 0);
    ASSERT_TRUE(waitFor([&] {
        return m_notifications.shown.contains("Signed in|Clips you share go to 127.0.0.1");
    })) << m_notifications.shown.join("; ").toStdString()
        << readAll(home() + "/browser.log").toStdString() << m_server->log().toStdString();
    const QByteArray browsed = readAll(home() + "/browser.log");
    EXPECT_TRUE(browsed.startsWith("open " + m_site.toUtf8() + "auth/app?challenge="));
    EXPECT_TRUE(browsed.contains("/oauth2/authorize?"));
    EXPECT_TRUE(browsed.contains("hand over vantelrecord://auth?code="));
    EXPECT_EQ(m_discord->exchanges(), 1);
    const QString token = keyringToken();
    ASSERT_EQ(token.size(), 43);
    EXPECT_TRUE(readAll(qEnvironmentVariable("XDG_CONFIG_HOME") + "/vantel-record/settings.ini")
                    .contains("Nelly"));

    // With automatic sharing on, a save is uploaded and its link copied.
    stopProgram();
    {
        QSettings settings(qEnvironmentVariable("XDG_CONFIG_HOME") + "/vantel-record/settings.ini",
                           QSettings::IniFormat);
        settings.setValue("autoShare", true);
    }
    startProgram();
    Outcome saved;
    ASSERT_TRUE(waitFor(
        [&] {
            saved = command({"save", "5"});
            return saved.status == 0;
        },
        90000))
        << saved.err.toStdString();
    const QString clip = saved.out.trimmed();
    ASSERT_TRUE(waitFor([&] { return libraryEntry(clip).contains("shareURL"); }, 180000))
        << m_notifications.shown.join("; ").toStdString() << m_server->log().toStdString();
    const QString link = libraryEntry(clip)["shareURL"].toString();
    const QString id = libraryEntry(clip)["shareID"].toString();
    EXPECT_EQ(link, m_site + "c/" + id);
    // The toast follows the library update, on the program's main thread: wait for it.
    EXPECT_TRUE(
        waitFor([&] { return m_notifications.shown.contains("Link copied|" + link); }, 10000))
        << m_notifications.shown.join("; ").toStdString();

    // The link's page and file are there: an H.264 MP4 of about five seconds.
    auto client = m_server->client();
    const auto page = client->Get(("/c/" + id).toStdString().c_str());
    ASSERT_EQ(page->status, 200);
    EXPECT_NE(page->body.find("Nelly"), std::string::npos);
    const std::string facts = run("ffprobe -v error -select_streams v:0 -show_entries "
                                  "stream=codec_name -show_entries format=duration -of "
                                  "default=nw=1 '" +
                                  (link + ".mp4").toStdString() + "'");
    EXPECT_NE(facts.find("codec_name=h264"), std::string::npos) << facts;
    const double seconds = QRegularExpression("duration=([0-9.]+)")
                               .match(QString::fromStdString(facts))
                               .captured(1)
                               .toDouble();
    const std::string local = run("ffprobe -v error -show_entries format=duration -of "
                                  "default=nw=1:nk=1 '" +
                                  clip.toStdString() + "'");
    EXPECT_GT(seconds, 0.5) << facts;
    EXPECT_NEAR(seconds, std::stod(local), 0.25) << facts << " against " << local;

    // The command line shares the same clip again: a second link of its own.
    const Outcome shared = command({"share", clip});
    EXPECT_EQ(shared.status, 0) << shared.err.toStdString();
    const QString second = shared.out.trimmed();
    EXPECT_TRUE(second.startsWith(m_site + "c/")) << second.toStdString();
    EXPECT_NE(second, link);

    // Signing out ends the token on the service, not only in the keyring.
    EXPECT_EQ(command({"sign-out"}).status, 0);
    EXPECT_TRUE(waitFor([&] { return keyringToken().isEmpty(); }));
    EXPECT_TRUE(waitFor([&] {
        const auto refused =
            client->Post("/api/clips", {{"Authorization", "Bearer " + token.toStdString()}}, "{}",
                         "application/json");
        return refused && refused->status == 401;
    })) << m_server->log().toStdString();
}

} // namespace
} // namespace vantel::test

#include "ProgramE2eTest.moc"
