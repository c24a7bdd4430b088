// The autostart entry as the desktop reads it: GLib's launcher (`gio launch`, what GNOME and
// Xfce start login items with) runs the program at a path full of characters that need
// quoting; the entry validates; switching off removes it; an entry the desktop switched off
// reads as off; a folder that cannot be written reports failure.

#include "platform/freedesktop/Autostart.h"

#include "common/Shell.h"
#include "common/TestEnv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <thread>

namespace vantel::platform {
namespace {

std::string quoted(const std::string& path) {
    return "'" + path + "'";
}

class AutostartTest : public testing::Test {
protected:
    void SetUp() override {
        std::filesystem::remove_all(QFileInfo(Autostart::entryPath()).path().toStdString());
    }
};

TEST_F(AutostartTest, TheDesktopLauncherStartsTheProgramAtAnOddPath) {
    const auto dir = test::testHome() / "tmp" / "odd dir \"$HOME\" `x` back\\slash";
    const auto marker = test::testHome() / "tmp" / "started";
    const auto program = dir / "vantel record";
    test::writeFile(program, "#!/bin/sh\necho \"$#\" > " + quoted(marker.string()) + "\n");
    std::filesystem::permissions(program, std::filesystem::perms::owner_all);

    ASSERT_FALSE(Autostart::enabled());
    ASSERT_TRUE(Autostart::setEnabled(true, QString::fromStdString(program.string())));
    EXPECT_TRUE(Autostart::enabled());
    const std::string entry = Autostart::entryPath().toStdString();
    EXPECT_EQ(test::run("desktop-file-validate " + quoted(entry)), "");

    test::run("gio launch " + quoted(entry));
    for (int i = 0; i < 100 && !std::filesystem::exists(marker); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_TRUE(std::filesystem::exists(marker)) << test::run("cat " + quoted(entry));
    EXPECT_EQ(test::run("cat " + quoted(marker.string())), "0\n");

    EXPECT_TRUE(Autostart::setEnabled(false));
    EXPECT_FALSE(QFile::exists(Autostart::entryPath()));
    EXPECT_FALSE(Autostart::enabled());
    EXPECT_TRUE(Autostart::setEnabled(false)) << "removing what is not there succeeds";
}

TEST_F(AutostartTest, AnEntryTheDesktopSwitchedOffReadsAsOff) {
    ASSERT_TRUE(Autostart::setEnabled(true, "/usr/bin/vantel-record"));
    QFile file(Autostart::entryPath());
    ASSERT_TRUE(file.open(QIODevice::Append));
    file.write("Hidden=true\n");
    file.close();
    EXPECT_FALSE(Autostart::enabled());
}

TEST_F(AutostartTest, AFolderThatCannotBeWrittenReportsFailure) {
    ASSERT_TRUE(Autostart::setEnabled(true, "/usr/bin/vantel-record"));
    const QString folder = QFileInfo(Autostart::entryPath()).path();
    // A read-only folder stops even root when it is a file in the way of the path.
    ASSERT_TRUE(QDir(folder).removeRecursively());
    QFile blocker(folder);
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    EXPECT_FALSE(Autostart::setEnabled(true, "/usr/bin/vantel-record"));
    EXPECT_FALSE(Autostart::enabled());
    QFile::remove(folder);
}

} // namespace
} // namespace vantel::platform
