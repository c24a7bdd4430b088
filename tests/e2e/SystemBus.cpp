#include "SystemBus.h"

#include "common/TestEnv.h"

#include <QFile>
#include <stdexcept>

namespace vantel::e2e {

namespace {

QString busConfig(const QString& socket, const QString& type) {
    return QStringLiteral("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus "
                          "Configuration 1.0//EN\"\n"
                          " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                          "<busconfig>\n"
                          "  <type>%2</type>\n"
                          "  <listen>unix:path=%1</listen>\n"
                          "  <auth>EXTERNAL</auth>\n"
                          "  <policy context=\"default\">\n"
                          "    <allow user=\"*\"/>\n"
                          "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
                          "    <allow eavesdrop=\"true\"/>\n"
                          "    <allow own=\"*\"/>\n"
                          "  </policy>\n"
                          "</busconfig>\n")
        .arg(socket, type);
}

void stop(QProcess& process) {
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(3000)) {
        process.kill();
        process.waitForFinished(3000);
    }
}

// Starts a bus daemon of the type with its socket in the test's home; returns its address.
QString startBus(QProcess& daemon, const QString& type) {
    const QString dir = QString::fromStdString((test::testHome() / "tmp").string());
    const QString config = dir + QStringLiteral("/%1-bus.conf").arg(type);
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly))
        throw std::runtime_error("cannot write the bus configuration");
    file.write(busConfig(dir + QStringLiteral("/%1_bus_socket").arg(type), type).toUtf8());
    file.close();
    daemon.start(QStringLiteral("dbus-daemon"),
                 {QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"),
                  QStringLiteral("--print-address=1")});
    if (!daemon.waitForStarted(5000) || !daemon.waitForReadyRead(10000))
        throw std::runtime_error("dbus-daemon did not start: " +
                                 daemon.readAllStandardError().toStdString());
    return QString::fromUtf8(daemon.readLine()).trimmed();
}

} // namespace

PrivateSystemBus::PrivateSystemBus()
    : m_daemon(std::make_unique<QProcess>())
    , m_address(startBus(*m_daemon, QStringLiteral("system"))) {
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", m_address.toUtf8());
}

PrivateSystemBus::~PrivateSystemBus() {
    stop(*m_daemon);
}

PrivateSessionBus::PrivateSessionBus()
    : m_daemon(std::make_unique<QProcess>())
    , m_address(startBus(*m_daemon, QStringLiteral("session"))) {
    qputenv("DBUS_SESSION_BUS_ADDRESS", m_address.toUtf8());
}

PrivateSessionBus::~PrivateSessionBus() {
    stop(*m_daemon);
}

StandInLogind::StandInLogind()
    : m_process(std::make_unique<QProcess>()) {
    m_process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process->start(QStringLiteral(VANTEL_TEST_LOGIND), {});
    if (!m_process->waitForReadyRead(10000) || m_process->readLine().trimmed() != "ready")
        throw std::runtime_error("the stand-in logind did not start");
}

StandInLogind::~StandInLogind() {
    m_process->closeWriteChannel();
    stop(*m_process);
}

void StandInLogind::sleep() {
    command("sleep");
}

void StandInLogind::wake() {
    command("wake");
}

void StandInLogind::command(const char* line) {
    m_process->write(QByteArray(line) + "\n");
    m_process->waitForBytesWritten(2000);
    if (!m_process->waitForReadyRead(10000) || m_process->readLine().trimmed() != "sent")
        throw std::runtime_error("the stand-in logind did not send its signal");
}

} // namespace vantel::e2e
