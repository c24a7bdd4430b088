// vantel-record: prints its version and the settings it loaded. "--version" prints the version
// alone.

#include "settings/Settings.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vantel-record"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VANTEL_VERSION));
    QTextStream out(stdout);
    if (app.arguments().contains(QStringLiteral("--version"))) {
        out << VANTEL_VERSION << Qt::endl;
        return 0;
    }
    out << "Vantel Record " << VANTEL_VERSION << Qt::endl;
    for (const auto& [key, value] : vantel::Settings::shared().entries())
        out << key << ": " << value << Qt::endl;
    return 0;
}
