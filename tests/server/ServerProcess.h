#pragma once

// One vantel-share process for the server tests and the benchmark, started with the given
// flags plus "--listen 127.0.0.1:0"; the port it chose is read from its first line. Stopped
// with SIGTERM by the destructor (it then finishes its requests and exits).
//
// Errors: the constructor throws std::runtime_error with the program's output when it does
// not start listening.

#include <QDir>
#include <QProcess>
#include <QStringList>
#include <QTemporaryFile>

namespace vantel::test {

class ServerProcess {
public:
    ServerProcess(const QString& program, const QStringList& flags);
    ~ServerProcess();
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    int port() const { return m_port; }
    qint64 pid() const { return m_process.processId(); }
    // What the program wrote on stderr so far (its log).
    QString log() const;

private:
    QTemporaryFile m_logFile{QDir::tempPath() + "/vantel-share-log-XXXXXX"};
    bool m_logOpen = m_logFile.open();
    QProcess m_process;
    int m_port = 0;
};

} // namespace vantel::test
