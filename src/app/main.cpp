// vantel-record: the tray program, or a command to the running one (see CommandLine.h).

#include "ProgramMain.h"

#include <QCoreApplication>

int main(int argc, char** argv) {
    QCoreApplication::setApplicationVersion(QStringLiteral(VANTEL_VERSION));
    return vantel::startProgram(argc, argv, {});
}
