#include "ServerProcess.h"

#include <QFile>
#include <QRegularExpression>
#include <stdexcept>

namespace vantel::test {

ServerProcess::ServerProcess(const QString& program, const QStringList& flags) {
    // Into a file: a pipe nobody drains would stop the server once it is full.
    m_process.setStandardErrorFile(m_logFile.fileName());
    m_process.start(program, flags + QStringList{"--listen", "127.0.0.1:0"});
    const QRegularExpression listening("listening on http://[^:]+:(\\d+)/");
    QByteArray printed;
    while (m_process.waitForReadyRead(30000)) {
        printed += m_process.readAllStandardOutput();
        const auto match = listening.match(QString::fromUtf8(printed));
        if (match.hasMatch()) {
            m_port = match.captured(1).toInt();
            return;
        }
    }
    const QString errors = log();
    m_process.kill();
    m_process.waitForFinished();
    throw std::runtime_error(("vantel-share did not start: " + printed).toStdString() +
                             errors.toStdString());
}

ServerProcess::~ServerProcess() {
    m_process.terminate();
    if (!m_process.waitForFinished(10000)) {
        m_process.kill();
        m_process.waitForFinished();
    }
}

QString ServerProcess::log() const {
    QFile file(m_logFile.fileName());
    return file.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(file.readAll()) : QString();
}

} // namespace vantel::test
