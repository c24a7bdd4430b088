#include "platform/freedesktop/Autostart.h"

#include "platform/freedesktop/KeyFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace vantel::platform {

namespace {

// Exec quoting of the desktop entry format: the argument in double quotes with `"`, `` ` ``,
// `$` and `\` escaped by a backslash; then every backslash doubled again, because the value
// itself is an escaped string of the key file.
QString quotedExec(const QString& program) {
    QString quoted;
    for (QChar c : program) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += u'\\';
        quoted += c;
    }
    quoted.replace(QStringLiteral("\\"), QStringLiteral("\\\\"));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

} // namespace

QString Autostart::entryPath() {
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return config + QStringLiteral("/autostart/vantel-record.desktop");
}

QString Autostart::entryText(const QString& program) {
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=Vantel Record\n"
                          "Comment=Instant replay for your PC\n"
                          "Exec=%1\n"
                          "Icon=vantel-record\n"
                          "Terminal=false\n"
                          "X-GNOME-Autostart-enabled=true\n")
        .arg(quotedExec(program));
}

bool Autostart::enabled() {
    const auto file = KeyFile::load(entryPath().toStdString());
    if (!file)
        return false;
    return file->value("Desktop Entry", "Hidden") != "true" &&
           file->value("Desktop Entry", "X-GNOME-Autostart-enabled") != "false";
}

bool Autostart::setEnabled(bool on, const QString& program) {
    const QString path = entryPath();
    if (!on)
        return !QFileInfo::exists(path) || QFile::remove(path);
    if (!QDir().mkpath(QFileInfo(path).path()))
        return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QString exec = program.isEmpty() ? QCoreApplication::applicationFilePath() : program;
    file.write(entryText(exec).toUtf8());
    return file.commit();
}

} // namespace vantel::platform
