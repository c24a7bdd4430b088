// The X11 workspace against a real Xvfb with openbox: monitors, a window of this process as the
// window manager lists it, the active window, change signals, and monitors made with xrandr.

#include "platform/freedesktop/DesktopEntries.h"
#include "platform/workspace/Workspace.h"

#include <QSignalSpy>
#include <QTest>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>
#include <xcb/xcb.h>

using namespace vantel::platform;

namespace {

// The desktop entries the test's workspaces match applications against, for the whole process.
vantel::platform::DesktopEntries& desktopEntries() {
    static vantel::platform::DesktopEntries entries(
        vantel::platform::DesktopEntries::defaultFolders());
    return entries;
}

xcb_atom_t intern(xcb_connection_t* c, const char* name) {
    auto* r =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(strlen(name)), name), nullptr);
    xcb_atom_t a = r ? r->atom : 0;
    free(r);
    return a;
}

// A plain top-level window of this process, as a game would open one.
struct ProbeWindow {
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    xcb_window_t id = 0;

    ProbeWindow() {
        xcb_screen_t* s = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
        id = xcb_generate_id(c);
        xcb_create_window(c, XCB_COPY_FROM_PARENT, id, s->root, 100, 120, 320, 200, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, s->root_visual, 0, nullptr);
        uint32_t pid = uint32_t(getpid());
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, id, intern(c, "_NET_WM_PID"),
                            XCB_ATOM_CARDINAL, 32, 1, &pid);
        const char cls[] = "vantel-probe\0VantelProbe";
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, id, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                            sizeof cls, cls);
        xcb_map_window(c, id);
        xcb_flush(c);
    }
    ~ProbeWindow() { xcb_disconnect(c); }

    QRect clientArea() {
        auto* geo = xcb_get_geometry_reply(c, xcb_get_geometry(c, id), nullptr);
        xcb_screen_t* s = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
        auto* t = xcb_translate_coordinates_reply(
            c, xcb_translate_coordinates(c, id, s->root, 0, 0), nullptr);
        QRect r(t->dst_x, t->dst_y, geo->width, geo->height);
        free(geo);
        free(t);
        return r;
    }
};

bool listed(Workspace& w, uint32_t window, WindowInfo* found = nullptr) {
    for (const WindowInfo& info : w.windows()) {
        if (info.window == window) {
            if (found)
                *found = info;
            return true;
        }
    }
    return false;
}

void run(const std::string& command) {
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

} // namespace

TEST(X11Workspace, ListsTheMonitorOfTheScreen) {
    auto w = createWorkspace(desktopEntries(), WorkspaceChoice::x11);
    QList<Monitor> monitors = w->monitors();
    ASSERT_EQ(monitors.size(), 1);
    EXPECT_EQ(monitors[0].geometry, QRect(0, 0, 1920, 1080));
    EXPECT_NE(monitors[0].id, 0u);
    EXPECT_EQ(w->mainDisplay(), monitors[0].id);
    EXPECT_EQ(w->displaysAt({1919, 1079}), QList<uint32_t>{monitors[0].id});
    EXPECT_TRUE(w->displaysAt({1920, 10}).isEmpty());
}

TEST(X11Workspace, SeesANewWindowWithItsOwnerAndFocus) {
    auto w = createWorkspace(desktopEntries(), WorkspaceChoice::x11);
    QSignalSpy changed(w.get(), &Workspace::applicationsChanged);
    ProbeWindow probe;
    ASSERT_TRUE(changed.wait(5000));
    WindowInfo info;
    ASSERT_TRUE(QTest::qWaitFor([&] { return listed(*w, probe.id, &info); }, 5000));
    EXPECT_EQ(info.pid, getpid());
    EXPECT_EQ(info.layer, 0);
    // The bounds are the window as seen on screen: the client area plus the frame.
    QRect client = probe.clientArea();
    EXPECT_TRUE(info.bounds.contains(client)) << info.bounds.x() << "," << info.bounds.y();
    EXPECT_GT(info.bounds.height(), client.height()); // openbox adds a title bar

    EXPECT_TRUE(QTest::qWaitFor([&] { return w->frontmostPid() == getpid(); }, 5000));
    QList<RunningApp> apps = w->runningApplications();
    auto it = std::find_if(apps.begin(), apps.end(),
                           [](const RunningApp& a) { return a.pid == getpid(); });
    ASSERT_NE(it, apps.end());
    EXPECT_EQ(it->name, "VantelProbe");
    EXPECT_EQ(it->appId, "platform_workspace_e2e");
    EXPECT_FALSE(it->regular); // this program never counts as an application to record
    EXPECT_FALSE(it->terminated);

    changed.clear();
    xcb_unmap_window(probe.c, probe.id);
    xcb_flush(probe.c);
    ASSERT_TRUE(changed.wait(5000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !listed(*w, probe.id); }, 5000));
}

TEST(X11Workspace, FollowsMonitorsMadeWithXrandr) {
    auto w = createWorkspace(desktopEntries(), WorkspaceChoice::x11);
    const uint32_t output = w->monitors().value(0).id;
    QSignalSpy screens(w.get(), &Workspace::screensChanged);
    // The left half takes the real output, the right half has none.
    run("xrandr --setmonitor vantel-left 960/254x1080/286+0+0 screen");
    run("xrandr --setmonitor vantel-right 960/254x1080/286+960+0 none");
    ASSERT_TRUE(QTest::qWaitFor([&] { return w->monitors().size() == 2; }, 5000));
    QList<Monitor> monitors = w->monitors();
    const Monitor left = monitors[0].name == "vantel-left" ? monitors[0] : monitors[1];
    const Monitor right = monitors[0].name == "vantel-left" ? monitors[1] : monitors[0];
    EXPECT_EQ(left.id, output);
    EXPECT_EQ(left.geometry, QRect(0, 0, 960, 1080));
    EXPECT_EQ(right.geometry, QRect(960, 0, 960, 1080));
    EXPECT_NE(right.id, output);
    EXPECT_NE(right.id, 0u);
    EXPECT_EQ(w->displaysAt({1400, 500}), QList<uint32_t>{right.id});
    EXPECT_EQ(w->displaysAt({10, 10}), QList<uint32_t>{left.id});
    // The id of an output-less monitor stays the same while it exists.
    EXPECT_EQ(w->displaysAt({1400, 500}), QList<uint32_t>{right.id});

    run("xrandr --delmonitor vantel-right");
    run("xrandr --delmonitor vantel-left");
    ASSERT_TRUE(QTest::qWaitFor([&] { return w->monitors().size() == 1; }, 5000));
    EXPECT_EQ(w->monitors()[0].id, output);
    QTest::qWait(200);
    RecordProperty("screen_signals", int(screens.size()));
}
