// vantel-record-test: the program as the end-to-end tests start it, with the hooks its
// environment asks for (TestHooks.h). Built for the tests only, never installed.

#include "TestHooks.h"
#include "app/ProgramMain.h"

#include <QCoreApplication>

int main(int argc, char** argv) {
    QCoreApplication::setApplicationVersion(QStringLiteral(VANTEL_VERSION));
    return vantel::startProgram(argc, argv,
                                vantel::test::hooksFrom(QProcessEnvironment::systemEnvironment()));
}
