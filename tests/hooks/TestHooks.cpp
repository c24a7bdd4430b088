#include "TestHooks.h"

#include "WidgetMap.h"
#include "app/BackendOverrides.h"
#include "ui/LibraryWindow.h"

#include <QFile>
#include <QTextStream>

namespace vantel::test {

namespace {

ProgramHooks::ToastSeen toastLog(const QString& path) {
    return [path](const QString& title, const QString& detail, bool ok) {
        QFile log(path);
        if (log.open(QIODevice::Append | QIODevice::Text))
            QTextStream(&log) << title << '\t' << detail << '\t' << (ok ? "ok" : "problem") << '\n';
    };
}

} // namespace

ProgramHooks hooksFrom(const QProcessEnvironment& environment) {
    ProgramHooks hooks;
    if (const QString log = environment.value(QStringLiteral("VANTEL_TOAST_LOG")); !log.isEmpty())
        hooks.toastShown = toastLog(log);
    if (const QString map = environment.value(QStringLiteral("VANTEL_WIDGET_MAP"));
        !map.isEmpty()) {
        hooks.windowMade = [map](const QString& id, QWidget* content) {
            if (id == QLatin1String(LibraryWindow::kId))
                new WidgetMap(content, map);
        };
    }
    const QString portal = environment.value(QStringLiteral("VANTEL_SHORTCUTS_PORTAL"));
    const bool readWrite = environment.value(QStringLiteral("VANTEL_COPY_READ_WRITE")) == "1";
    hooks.adjustBackends = [portal, readWrite](BackendOverrides& overrides) {
        if (!portal.isEmpty())
            overrides.hotkeys.portalService = portal;
        if (readWrite)
            overrides.copy = media::CopyMethod::readWrite;
    };
    return hooks;
}

} // namespace vantel::test
