#include "AppPaths.h"

#include <QDir>
#include <QStandardPaths>

namespace vantel::AppPaths {

namespace {
constexpr char kFolderName[] = "vantel-record";

QString homeRelative(QStandardPaths::StandardLocation location, const QString& fallback) {
    QString path = QStandardPaths::writableLocation(location);
    return path.isEmpty() ? QDir::homePath() + fallback : path;
}
} // namespace

QString appSupport() {
    const QString path =
        homeRelative(QStandardPaths::GenericDataLocation, QStringLiteral("/.local/share")) +
        QLatin1Char('/') + QLatin1String(kFolderName);
    QDir().mkpath(path);
    return path;
}

QString defaultClipFolder() {
    return homeRelative(QStandardPaths::MoviesLocation, QStringLiteral("/Videos")) +
           QStringLiteral("/Vantel Record");
}

QString configFile() {
    return homeRelative(QStandardPaths::GenericConfigLocation, QStringLiteral("/.config")) +
           QLatin1Char('/') + QLatin1String(kFolderName) + QStringLiteral("/settings.ini");
}

} // namespace vantel::AppPaths
