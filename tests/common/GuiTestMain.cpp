// Entry point of tests that need widgets: a private home first, then a QApplication (offscreen
// for unit tests, the session's X display for end-to-end tests), then the tests.

#include "TestEnv.h"

#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    vantel::test::testHome();
    QApplication app(argc, argv);
    QApplication::setApplicationName("vantel-record");
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
