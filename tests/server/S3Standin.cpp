#include "S3Standin.h"

#include <QProcessEnvironment>
#include <QRegularExpression>
#include <stdexcept>

namespace vantel::test {

S3Standin::S3Standin(const QStringList& buckets)
    : m_buckets(buckets) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("NODE_PATH", VANTEL_TEST_NODE_MODULES);
    m_process.setProcessEnvironment(env);
    m_process.setProcessChannelMode(QProcess::SeparateChannels);
    m_process.start(VANTEL_TEST_NODE,
                    QStringList{VANTEL_TEST_S3RVER_SCRIPT, m_dir.path()} + buckets);
    const QRegularExpression ready("^port (\\d+)");
    QByteArray printed;
    while (m_process.waitForReadyRead(20000)) {
        printed += m_process.readAllStandardOutput();
        const auto match = ready.match(QString::fromUtf8(printed));
        if (match.hasMatch()) {
            m_port = match.captured(1).toInt();
            return;
        }
    }
    const QByteArray errors = m_process.readAllStandardError();
    m_process.kill();
    m_process.waitForFinished();
    throw std::runtime_error("The S3 stand-in did not start: " + printed.toStdString() +
                             errors.toStdString());
}

S3Standin::~S3Standin() {
    m_process.terminate();
    if (!m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished();
    }
}

QString S3Standin::endpoint() const {
    return QStringLiteral("http://127.0.0.1:%1").arg(m_port);
}

server::S3Config S3Standin::config() const {
    server::S3Config config;
    config.endpoint = QUrl(endpoint());
    config.bucket = m_buckets.value(0);
    config.accessKey = "S3RVER";
    config.secretKey = "S3RVER";
    return config;
}

} // namespace vantel::test
