// The program and the key names against a real X server (run inside the Xvfb session).

#include "common/TestEnv.h"
#include "settings/Hotkey.h"
#include "settings/KeyboardLayout.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <xkbcommon/xkbcommon-x11.h>

// xcb's XKB header names a field "explicit", which C++ reserves.
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit

namespace vantel {
namespace {

bool runTool(const QString& program, const QStringList& arguments) {
    QProcess p;
    p.start(program, arguments);
    return p.waitForFinished(20000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// Locks the core keyboard to a layout group, as a layout switcher does.
bool lockGroup(std::uint8_t group) {
    std::unique_ptr<xcb_connection_t, void (*)(xcb_connection_t*)> c(xcb_connect(nullptr, nullptr),
                                                                     xcb_disconnect);
    if (xcb_connection_has_error(c.get()) ||
        !xkb_x11_setup_xkb_extension(c.get(), 1, 0, XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr,
                                     nullptr, nullptr, nullptr))
        return false;
    xcb_void_cookie_t cookie =
        xcb_xkb_latch_lock_state_checked(c.get(), XCB_XKB_ID_USE_CORE_KBD, 0, 0, 1, group, 0, 0, 0);
    xcb_generic_error_t* error = xcb_request_check(c.get(), cookie);
    free(error);
    return error == nullptr;
}

class X11Layout : public ::testing::Test {
protected:
    void SetUp() override {
        if (!qEnvironmentVariableIsSet("DISPLAY"))
            GTEST_SKIP() << "needs an X display";
    }
    void TearDown() override { runTool("setxkbmap", {"-layout", "us"}); }

    QString nameOnServer(std::uint32_t keyCode) {
        auto layout = XkbKeyboardLayout::fromX11();
        EXPECT_TRUE(layout);
        return Hotkey::keyName(keyCode, layout.get());
    }
};

TEST_F(X11Layout, KeyNamesFollowTheServerKeymapAndActiveGroup) {
    ASSERT_TRUE(runTool("setxkbmap", {"-layout", "fr"}));
    EXPECT_EQ(nameOnServer(12), "A");
    EXPECT_EQ(Hotkey::keyName(12), "A") << "the layout in force is the server's";

    ASSERT_TRUE(runTool("setxkbmap", {"-layout", "us,de"}));
    ASSERT_TRUE(lockGroup(0));
    EXPECT_EQ(nameOnServer(16), "Y");
    ASSERT_TRUE(lockGroup(1));
    EXPECT_EQ(nameOnServer(16), "Z");
    EXPECT_EQ((Hotkey{16, Hotkey::kAlt}).display(), "Alt+Z");
}

struct Outcome {
    int status = -1;
    QString out, err;
};

Outcome run(const QStringList& arguments) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_RUNTIME_DIR",
               QString::fromStdString((test::testHome() / "no-instance").string()));
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(VANTEL_PROGRAM), arguments);
    EXPECT_TRUE(p.waitForFinished(30000));
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

TEST(Program, AnswersVersionHelpAndBadArgumentsAndSaysWhenNoInstanceRuns) {
    std::filesystem::create_directories(test::testHome() / "no-instance");
    const Outcome version = run({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "0.1.0\n");
    const Outcome help = run({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(help.out.contains("save [SECONDS]"));
    const Outcome bad = run({"save", "soon"});
    EXPECT_EQ(bad.status, 2);
    EXPECT_TRUE(bad.err.startsWith("vantel-record: the length must be a number of seconds"));
    for (const char* command : {"save", "status"}) {
        const Outcome alone = run({command});
        EXPECT_EQ(alone.status, 1) << command;
        EXPECT_EQ(alone.err, "Vantel Record is not running.\n") << command;
    }
}

} // namespace
} // namespace vantel
