// vantel-record-test: the program as the end-to-end tests start it, with the hooks its
// environment asks for (TestHooks.h). Built for the tests only, never installed.

#include "TestHooks.h"
#include "app/ProgramMain.h"

#include <QCoreApplication>

int main(int argc, char** argv) {
    // X11 names a window's instance after the program's file unless told otherwise: the windows
    // of this build are named as the installed program's ("vantel-record"), which the tests find.
    if (qEnvironmentVariableIsEmpty("RESOURCE_NAME"))
        qputenv("RESOURCE_NAME", "vantel-record");
    QCoreApplication::setApplicationVersion(QStringLiteral(VANTEL_VERSION));
    return vantel::startProgram(argc, argv,
                                vantel::test::hooksFrom(QProcessEnvironment::systemEnvironment()));
}
