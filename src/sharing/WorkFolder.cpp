#include "WorkFolder.h"

#include <QDir>
#include <QUuid>
#include <stdexcept>

namespace vantel {

WorkFolder::WorkFolder()
    : m_path(QDir::tempPath() + QStringLiteral("/share-") +
             QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper()) {
    if (!QDir().mkpath(m_path))
        throw std::runtime_error(
            QStringLiteral("Couldn't make a working folder in %1 for the upload.")
                .arg(QDir::tempPath())
                .toStdString());
}

WorkFolder::~WorkFolder() {
    QDir(m_path).removeRecursively();
}

} // namespace vantel
