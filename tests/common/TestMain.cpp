// Test entry point: a private home first, then a Qt application object so that timers, queued
// calls and the shared instances work as they do in the program, then the tests.

#include "TestEnv.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    vantel::test::testHome();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("vantel-record");
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
