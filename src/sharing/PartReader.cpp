#include "PartReader.h"

#include <algorithm>
#include <stdexcept>

namespace vantel {

namespace {
std::runtime_error readFailure(const QFile& file) {
    return std::runtime_error(
        QStringLiteral("Couldn't read the upload copy: %1").arg(file.errorString()).toStdString());
}
} // namespace

PartReader::PartReader(const QString& path)
    : m_file(path) {
    if (!m_file.open(QIODevice::ReadOnly))
        throw readFailure(m_file);
}

QByteArray PartReader::read(int64_t offset, int64_t count) {
    if (!m_file.seek(offset))
        throw readFailure(m_file);
    count = std::clamp<int64_t>(m_file.size() - offset, 0, count);
    QByteArray bytes(static_cast<qsizetype>(count), Qt::Uninitialized);
    qint64 got = m_file.read(bytes.data(), count);
    if (got < 0)
        throw readFailure(m_file);
    bytes.truncate(static_cast<qsizetype>(got));
    return bytes;
}

} // namespace vantel
