// The real program signing in through a browser and sharing clips, inside the end-to-end
// session: Xvfb, the session bus with an unlocked gnome-keyring, PulseAudio.
//
// The desktop's handlers are real: the program opens the sign-in page with the default http
// handler, which is the stand-in browser; the browser fetches the page from the loopback
// service, which redirects to "vantelrecord://auth?code=..."; the browser opens that with
// xdg-open, which starts `vantel-record URL`, which hands it to the running program. Toasts are
// desktop notifications here, received by a notification server of this test.

#include "common/TestEnv.h"

#include <QDBusConnection>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonArray>
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
const QString browser = QStringLiteral(VANTEL_TEST_BROWSER);
const QString serviceProgram = QStringLiteral(VANTEL_TEST_SERVICE);

QString home() {
    return QString::fromStdString(testHome().string());
}

class FakeNotifications : public QObject {
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
    QString out;
    QString err;
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

QByteArray readText(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

class SharingE2e : public ::testing::Test {
protected:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            GTEST_SKIP() << "needs the end-to-end session";
        m_env = QProcessEnvironment::systemEnvironment();
        m_env.insert("HOME", home());
        m_env.insert("XDG_RUNTIME_DIR", home() + "/runtime");
        m_env.insert("VANTEL_TOAST", "notification");
        m_env.insert("VANTEL_TEST_BROWSER_LOG", home() + "/browser.log");
        QDir().mkpath(home() + "/runtime");
        QFile::setPermissions(home() + "/runtime", QFileDevice::ReadOwner |
                                                       QFileDevice::WriteOwner |
                                                       QFileDevice::ExeOwner);
        startService();
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
        if (m_service) {
            m_service->kill();
            m_service->waitForFinished();
        }
        QDBusConnection bus = QDBusConnection::sessionBus();
        bus.unregisterObject("/org/freedesktop/Notifications");
        bus.unregisterService("org.freedesktop.Notifications");
        QProcess::execute("secret-tool", {"clear", "server", "vantel-record", "user", "token"});
    }

    // The service at the root, or below `basePath` as a self-hosted one behind a proxy.
    void startService(const QString& basePath = {}) {
        if (m_service) {
            m_service->kill();
            m_service->waitForFinished();
        }
        m_service = std::make_unique<QProcess>();
        m_service->start(serviceProgram,
                         {"--log", home() + "/service.log", "--base-path", basePath});
        ASSERT_TRUE(m_service->waitForReadyRead(20000));
        const QByteArray port = m_service->readLine().mid(6).trimmed();
        m_site = "http://127.0.0.1:" + QString::fromLatin1(port) + basePath + "/";
        m_env.insert("VANTEL_SITE_URL", m_site);
    }

    static QString settingsPath() {
        return qEnvironmentVariable("XDG_CONFIG_HOME") + "/vantel-record/settings.ini";
    }

    // The stand-in browser for http(s) and the program for "vantelrecord", as an installed
    // program registers itself.
    void registerHandlers() {
        const QString apps = qEnvironmentVariable("XDG_DATA_HOME") + "/applications";
        writeText(apps + "/vantel-record.desktop",
                  "[Desktop Entry]\nType=Application\nName=Vantel Record\nExec=" + program +
                      " %u\nMimeType=x-scheme-handler/vantelrecord;\nNoDisplay=true\n");
        writeText(apps + "/vantel-test-browser.desktop",
                  "[Desktop Entry]\nType=Application\nName=Test Browser\nExec=" + browser +
                      " %u\nMimeType=x-scheme-handler/http;x-scheme-handler/https;\n"
                      "NoDisplay=true\n");
        ASSERT_EQ(tool("update-desktop-database", {apps}).status, 0);
        ASSERT_EQ(
            tool("xdg-mime", {"default", "vantel-record.desktop", "x-scheme-handler/vantelrecord"})
                .status,
            0);
        for (const QString scheme : {"http", "https"})
            ASSERT_EQ(tool("xdg-mime",
                           {"default", "vantel-test-browser.desktop", "x-scheme-handler/" + scheme})
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
        if (name == program)
            m_outputs += outcome.out + outcome.err;
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
        m_outputs += QString::fromUtf8(m_program->readAllStandardOutput() +
                                       m_program->readAllStandardError());
        m_program.reset();
    }

    QList<QJsonObject> serviceLog() const {
        QList<QJsonObject> lines;
        for (const QByteArray& line : readText(home() + "/service.log").split('\n'))
            if (!line.isEmpty())
                lines.append(QJsonDocument::fromJson(line).object());
        return lines;
    }

    bool logged(const QString& method, const QString& prefix) const {
        for (const QJsonObject& line : serviceLog())
            if (line["method"].toString() == method && line["path"].toString().startsWith(prefix))
                return true;
        return false;
    }

    QString keyringToken() {
        return tool("secret-tool", {"lookup", "server", "vantel-record", "user", "token"}).out;
    }

    // Every file below the test's home (settings, data, cache, temporary files, logs) that
    // holds `needle`.
    QStringList filesContaining(const QByteArray& needle) const {
        QStringList found;
        QDirIterator it(home(), QDir::Files | QDir::Hidden | QDir::System,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            if (readText(path).contains(needle))
                found << path;
        }
        return found;
    }

    QJsonObject libraryEntry(const QString& clipPath) const {
        const QJsonObject index =
            QJsonDocument::fromJson(
                readText(qEnvironmentVariable("XDG_DATA_HOME") + "/vantel-record/library.json"))
                .object();
        for (auto it = index.begin(); it != index.end(); ++it)
            if (clipPath.endsWith(it.key()))
                return it.value().toObject();
        return {};
    }

    QProcessEnvironment m_env;
    QString m_site;
    std::unique_ptr<QProcess> m_service;
    std::unique_ptr<QProcess> m_program;
    FakeNotifications m_notifications;
    QString m_outputs; // everything the program printed
};

TEST_F(SharingE2e, SignInThroughTheBrowserKeyringRestartAutomaticShareAndCommands) {
    startProgram();
    ASSERT_EQ(command({"sign-in"}).status, 0);
    ASSERT_TRUE(waitFor([&] {
        return m_notifications.shown.contains("Signed in|Clips you share go to 127.0.0.1");
    })) << m_notifications.shown.join("; ").toStdString()
        << readText(home() + "/browser.log").toStdString();

    // The page the browser was sent to, with its S256 challenge; the service checked the
    // verifier against it before it gave out the token.
    const QList<QByteArray> browsed = readText(home() + "/browser.log").split('\n');
    ASSERT_GE(browsed.size(), 2);
    const QRegularExpression page("^open " + QRegularExpression::escape(m_site) +
                                  "auth/app\\?challenge=([A-Za-z0-9_-]{43})$");
    EXPECT_TRUE(page.match(QString::fromUtf8(browsed[0])).hasMatch()) << browsed[0].toStdString();
    EXPECT_TRUE(browsed[1].startsWith("redirect vantelrecord://auth?code="));
    EXPECT_TRUE(logged("POST", "/api/app/token"));

    // The token is in the keyring and nowhere else on disk; the settings hold the user.
    const QString token = keyringToken();
    ASSERT_FALSE(token.isEmpty());
    EXPECT_EQ(filesContaining(token.toUtf8()), QStringList());
    EXPECT_TRUE(readText(qEnvironmentVariable("XDG_CONFIG_HOME") + "/vantel-record/settings.ini")
                    .contains("Player One"));

    // After a restart the token is read back: with automatic sharing on, a save is uploaded.
    stopProgram();
    {
        QSettings settings(qEnvironmentVariable("XDG_CONFIG_HOME") + "/vantel-record/settings.ini",
                           QSettings::IniFormat);
        settings.setValue("autoShare", true);
    }
    startProgram();
    // The buffer needs its first seconds before anything can be saved.
    Outcome saved;
    ASSERT_TRUE(waitFor(
        [&] {
            saved = command({"save", "5"});
            return saved.status == 0;
        },
        90000))
        << saved.err.toStdString();
    const QString clip = saved.out.trimmed();
    ASSERT_TRUE(waitFor([&] { return libraryEntry(clip).contains("shareURL"); }, 120000))
        << m_notifications.shown.join("; ").toStdString();
    const QString link = libraryEntry(clip)["shareURL"].toString();
    EXPECT_TRUE(link.startsWith(m_site + "c/"));
    // The save ended with its clip; the upload told its link on its own, a moment later.
    EXPECT_TRUE(saved.err.contains("Uploading it now")) << saved.err.toStdString();
    EXPECT_TRUE(waitFor([&] { return m_notifications.shown.contains("Link copied|" + link); }))
        << m_notifications.shown.join("; ").toStdString();
    EXPECT_EQ(tool("xclip", {"-o", "-selection", "clipboard"}).out, link);
    EXPECT_TRUE(logged("POST", "/api/clips/"));

    // The command line shares a library clip and refuses anything else.
    const Outcome shared = command({"share", clip});
    EXPECT_EQ(shared.status, 0) << shared.err.toStdString();
    EXPECT_TRUE(shared.out.trimmed().startsWith(m_site + "c/"));
    const Outcome refused = command({"share", home() + "/nothing.mp4"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_TRUE(refused.err.contains("isn't a clip in your library")) << refused.err.toStdString();

    // No file, log or output of the program holds the token.
    EXPECT_EQ(filesContaining(token.toUtf8()), QStringList());
    stopProgram();
    EXPECT_FALSE(m_outputs.contains(token));

    // Signing out removes it from the keyring and tells the service.
    startProgram();
    EXPECT_EQ(command({"sign-out"}).status, 0);
    EXPECT_TRUE(waitFor([&] { return keyringToken().isEmpty(); }));
    EXPECT_TRUE(waitFor([&] { return logged("POST", "/api/app/logout"); }));
}

TEST_F(SharingE2e, ASelfHostedServiceNamedInTheSettingsFileBelowAPath) {
    // What the file may hold and how a bad value is refused is the settings tests' concern; a
    // program started with a refused value would ask our real service for updates.
    QFile::remove(home() + "/service.log");
    startService("/self/hosted");
    m_env.remove("VANTEL_SITE_URL");
    QSettings(settingsPath(), QSettings::IniFormat).setValue("sharingService", m_site.chopped(1));
    QFile::remove(home() + "/browser.log");
    startProgram();
    ASSERT_EQ(command({"sign-in"}).status, 0);
    ASSERT_TRUE(waitFor([&] {
        return m_notifications.shown.contains("Signed in|Clips you share go to 127.0.0.1");
    })) << m_notifications.shown.join("; ").toStdString()
        << readText(home() + "/browser.log").toStdString();
    EXPECT_TRUE(
        readText(home() + "/browser.log").startsWith("open " + m_site.toUtf8() + "auth/app?"));
    EXPECT_TRUE(logged("POST", "/api/app/token"));
    EXPECT_FALSE(serviceLog().isEmpty());
    for (const QJsonObject& line : serviceLog())
        EXPECT_FALSE(line["outsideBase"].toBool()) << line["path"].toString().toStdString();
    EXPECT_EQ(command({"sign-out"}).status, 0);
    EXPECT_TRUE(waitFor([&] { return logged("POST", "/api/app/logout"); }));
}

} // namespace
} // namespace vantel::test

#include "SharingE2eTest.moc"
