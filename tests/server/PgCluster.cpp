#include "PgCluster.h"

#include <QDir>
#include <QProcess>
#include <QTcpServer>
#include <filesystem>
#include <pwd.h>
#include <stdexcept>
#include <unistd.h>

namespace vantel::test {
namespace {

// The newest installed server's programs (Debian keeps them out of PATH).
QString postgresBinaries() {
    QDir versions("/usr/lib/postgresql");
    QStringList found = versions.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    std::sort(found.begin(), found.end(),
              [](const QString& a, const QString& b) { return a.toInt() < b.toInt(); });
    for (auto it = found.crbegin(); it != found.crend(); ++it) {
        const QString bin = versions.filePath(*it + "/bin");
        if (QFile::exists(bin + "/initdb"))
            return bin;
    }
    throw std::runtime_error(
        "PostgreSQL's server programs are not installed (package postgresql).");
}

int freePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

std::string makeRoot() {
    std::string pattern = "/tmp/vantel-pg-XXXXXX";
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("Could not make a folder for the PostgreSQL cluster.");
    if (geteuid() == 0) {
        const passwd* owner = getpwnam("postgres");
        if (!owner || chown(pattern.c_str(), owner->pw_uid, owner->pw_gid) != 0)
            throw std::runtime_error("Could not hand the cluster folder to the user postgres.");
    }
    return pattern;
}

} // namespace

PgCluster::PgCluster()
    : m_bin(postgresBinaries())
    , m_root(QString::fromStdString(makeRoot())) {
    run("initdb", {"-D", m_root + "/data", "-A", "trust", "-U", user(), "--no-sync", "-E", "UTF8",
                   "--locale=C"});
    for (int attempt = 0; attempt < 3 && !m_running; ++attempt)
        m_running = start();
    if (!m_running)
        throw std::runtime_error("PostgreSQL did not start: " + readLog().toStdString());
}

PgCluster::~PgCluster() {
    if (m_running) {
        try {
            run("pg_ctl", {"-D", m_root + "/data", "-m", "immediate", "-w", "stop"});
        } catch (const std::exception&) {
            // The folder goes below all the same; a postmaster without it ends by itself.
        }
    }
    std::error_code ignored;
    std::filesystem::remove_all(m_root.toStdString(), ignored);
}

bool PgCluster::start() {
    m_port = freePort();
    const QString options = QStringLiteral("-k %1 -p %2 -c listen_addresses=127.0.0.1 "
                                           "-c fsync=off -c max_connections=200")
                                .arg(m_root)
                                .arg(m_port);
    try {
        run("pg_ctl",
            {"-D", m_root + "/data", "-l", m_root + "/log", "-o", options, "-w", "start"});
        return true;
    } catch (const std::runtime_error&) {
        return false;
    }
}

QString PgCluster::readLog() const {
    QFile log(m_root + "/log");
    return log.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(log.readAll()) : QString();
}

QString PgCluster::createDatabase(const QString& name) {
    run("createdb", {"-h", host(), "-p", QString::number(m_port), "-U", user(), name});
    return name;
}

QString PgCluster::url(const QString& database) const {
    return QStringLiteral("postgresql://%1@%2:%3/%4").arg(user(), host()).arg(m_port).arg(database);
}

QString PgCluster::run(const QString& program, const QStringList& arguments) const {
    const QString path = m_bin + '/' + program;
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    if (geteuid() == 0)
        process.start("runuser", QStringList{"-u", "postgres", "--", path} + arguments);
    else
        process.start(path, arguments);
    process.waitForFinished(60000);
    const QString output = QString::fromLocal8Bit(process.readAll());
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        throw std::runtime_error(program.toStdString() + " failed: " + output.toStdString());
    return output;
}

} // namespace vantel::test
