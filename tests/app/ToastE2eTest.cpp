// Toasts under a real X server and window manager: the place on the recorded monitor, the
// timing of two toasts, focus and clicks left to the window below, and the corners with and
// without a compositor. Leaves screenshots of toasts under build/screenshots/.

#include "E2eSupport.h"
#include "app/Toast.h"
#include "common/Screenshots.h"
#include "platform/freedesktop/DesktopEntries.h"
#include "platform/workspace/Compositing.h"
#include "platform/workspace/Workspace.h"
#include "ui/Theme.h"
#include "ui/ToastView.h"

#include <QApplication>
#include <QDBusConnection>
#include <QElapsedTimer>
#include <QPainter>
#include <QScreen>
#include <QWidget>
#include <gtest/gtest.h>

namespace vantel {
namespace {

// The desktop entries the test's workspaces match applications against, for the whole process.
vantel::platform::DesktopEntries& desktopEntries() {
    static vantel::platform::DesktopEntries entries(
        vantel::platform::DesktopEntries::defaultFolders());
    return entries;
}

using namespace std::chrono_literals;
using e2e::runTool;
using e2e::waitUntil;

// A bright, focused window under the toast that counts the clicks it gets.
class Backdrop : public QWidget {
public:
    int clicks = 0;
    explicit Backdrop(const QRect& area) {
        setWindowTitle(QStringLiteral("backdrop"));
        setGeometry(area);
        show();
        activateWindow();
    }

protected:
    void mousePressEvent(QMouseEvent*) override { ++clicks; }
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        QLinearGradient g(0, 0, width(), height());
        g.setColorAt(0, QColor(250, 200, 40));
        g.setColorAt(1, QColor(40, 120, 230));
        p.fillRect(rect(), g);
    }
};

void pump(std::chrono::milliseconds time) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < time.count())
        QApplication::processEvents(QEventLoop::AllEvents, 10);
}

// The window's place as the X server has it, not as Qt believes it.
QPoint serverPosition(const QWidget* window) {
    const QString info = runTool("xwininfo", {"-id", QString::number(window->winId())});
    auto field = [&](const QString& name) {
        const int at = info.indexOf(name);
        return at < 0 ? -1 : info.mid(at + name.size()).section('\n', 0, 0).trimmed().toInt();
    };
    return {field("Absolute upper-left X:"), field("Absolute upper-left Y:")};
}

QImage shotAround(const QWidget* toast, const QString& name) {
    const QRect area = toast->geometry().adjusted(-40, -20, 20, 30);
    const QImage image = QGuiApplication::primaryScreen()
                             ->grabWindow(0, area.x(), area.y(), area.width(), area.height())
                             .toImage();
    test::saveShot(image, name);
    return image;
}

// A notification server of our own on the session bus that records what it is asked to show.
class FakeNotifications : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Shown {
        uint replaces;
        QString summary;
        QString body;
        int urgency;
        int timeout;
    };
    QList<Shown> shown;

public slots:
    uint Notify(const QString&, uint replaces, const QString&, const QString& summary,
                const QString& body, const QStringList&, const QVariantMap& hints, int timeout) {
        shown.append({replaces, summary, body, hints.value("urgency").toInt(), timeout});
        return replaces ? replaces : 41;
    }
};

// The test process's one toast, a child of the application object; SetUp gives its sources.
Toast& testToast() {
    static Toast* toast =
        new Toast([] { return std::optional<std::uint32_t>(); },
                  [] { return QList<platform::Monitor>(); }, QCoreApplication::instance());
    return *toast;
}

class ToastE2e : public testing::Test {
protected:
    void SetUp() override {
        runTool("xrandr", {"--setmonitor", "toast-left", "960/254x1080/286+0+0", "screen"});
        runTool("xrandr", {"--setmonitor", "toast-right", "960/254x1080/286+960+0", "none"});
        auto workspace = platform::createWorkspace(desktopEntries());
        for (const platform::Monitor& m : workspace->monitors()) {
            if (m.geometry.x() == 960)
                m_right = m;
            m_monitors.append(m);
        }
        testToast().setSources([this] { return m_display; }, [this] { return m_monitors; });
    }
    void TearDown() override {
        if (ToastView* view = testToast().view())
            view->hide();
        runTool("xrandr", {"--delmonitor", "toast-right"});
        runTool("xrandr", {"--delmonitor", "toast-left"});
    }
    bool shown() {
        ToastView* view = testToast().view();
        return view && view->isVisible() && view->windowOpacity() > 0.999;
    }

    platform::Monitor m_right;
    QList<platform::Monitor> m_monitors;
    std::optional<std::uint32_t> m_display;
};

TEST_F(ToastE2e, SitsTopRightOfTheRecordedMonitorAndLeavesFocusAndClicksBelow) {
    ASSERT_EQ(m_right.geometry, QRect(960, 0, 960, 1080));
    Backdrop backdrop(QRect(1300, 0, 620, 320));
    ASSERT_TRUE(waitUntil([&] { return QApplication::activeWindow() == &backdrop; }, 10s));

    m_display = m_right.id;
    testToast().show("Clip saved", "Minecraft · 0:30");
    ToastView* view = testToast().view();
    ASSERT_TRUE(waitUntil([&] { return shown(); }, 10s));
    const QPoint expected(1920 - Toast::kMargin - view->width(), Toast::kMargin);
    EXPECT_EQ(view->pos(), expected);
    EXPECT_TRUE(waitUntil([&] { return serverPosition(view) == expected; }, 5s))
        << serverPosition(view).x() << "," << serverPosition(view).y();

    // Clicks go through to the window below, which keeps the focus.
    pump(300ms);
    const QPoint inside = view->geometry().center();
    ASSERT_TRUE(backdrop.geometry().contains(inside))
        << backdrop.geometry().x() << "," << backdrop.geometry().y() << " " << backdrop.width()
        << "x" << backdrop.height() << " toast " << inside.x() << "," << inside.y();
    runTool("xdotool",
            {"mousemove", QString::number(inside.x()), QString::number(inside.y()), "click", "1"});
    EXPECT_TRUE(waitUntil([&] { return backdrop.clicks == 1; }, 5s));
    EXPECT_EQ(QApplication::activeWindow(), &backdrop);
    EXPECT_EQ(runTool("xdotool", {"getactivewindow"}).trimmed().toULongLong(),
              quint64(backdrop.winId()));

    // Without a compositor the corners are cut by the mask: the backdrop shows there, not black.
    ASSERT_FALSE(platform::desktopComposites());
    EXPECT_FALSE(view->composited());
    const QImage image = shotAround(view, "toast-clip-saved");
    const QColor corner = image.pixelColor(40, 20);
    EXPECT_GT(corner.red() + corner.green() + corner.blue(), 200) << corner.name().toStdString();
    const QColor body = image.pixelColor(40 + view->width() / 2, 20 + view->height() - 3);
    EXPECT_LT(body.red() + body.green() + body.blue(), 60) << body.name().toStdString();

    testToast().show("Couldn't save the clip", "Nothing recorded yet. Give it a second.",
                     ToastKind::problem);
    pump(400ms);
    shotAround(view, "toast-problem");

    // No target display: the primary screen, which is the left monitor here.
    m_display.reset();
    testToast().show("Not recording", "Paused", ToastKind::problem);
    EXPECT_EQ(view->pos(),
              QPoint(QGuiApplication::primaryScreen()->availableGeometry().right() + 1 -
                         Toast::kMargin - view->width(),
                     QGuiApplication::primaryScreen()->availableGeometry().top() + Toast::kMargin));
}

TEST_F(ToastE2e, ASecondToastGetsItsFullTimeAndTheFirstNeverFadesItOut) {
    testToast().show("Clip saved", "Desktop · 0:30");
    pump(2000ms);
    QElapsedTimer second;
    second.start();
    testToast().show("Link copied", "https://vantel.example/c/abc");
    ToastView* view = testToast().view();
    pump(300ms);
    qreal lowest = 1.0;
    while (second.elapsed() < 2500) {
        lowest = qMin(lowest, view->isVisible() ? view->windowOpacity() : 0.0);
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    EXPECT_DOUBLE_EQ(lowest, 1.0);
    EXPECT_EQ(view->title(), "Link copied");
    ASSERT_TRUE(waitUntil([&] { return !view->isVisible(); }, 10s));
    EXPECT_GE(second.elapsed(), 2600 + 250 - 20);

    // A toast shown during the fade-out of the one before survives that fade-out's end.
    testToast().show("Clip saved", "Desktop · 0:30");
    pump(2700ms);
    ASSERT_LT(view->windowOpacity(), 1.0);
    testToast().show("Trimmed copy saved", "Desktop · 0:12");
    pump(700ms);
    EXPECT_TRUE(shown());
}

TEST_F(ToastE2e, WithACompositorTheCornersAreTranslucent) {
    e2e::Child compositor("xcompmgr", {"-n"});
    ASSERT_TRUE(waitUntil([] { return platform::desktopComposites(); }, 10s));
    Backdrop backdrop(QRect(1300, 0, 620, 320));
    pump(500ms);
    m_display = m_right.id;
    testToast().show("Vantel Record is on", "Alt+Shift+C saves a clip");
    ToastView* view = testToast().view();
    ASSERT_TRUE(waitUntil([&] { return shown(); }, 10s));
    EXPECT_TRUE(view->composited());
    EXPECT_TRUE(view->mask().isEmpty());
    pump(500ms);
    const QImage image = shotAround(view, "toast-composited");
    const QColor corner = image.pixelColor(40, 20);
    EXPECT_GT(corner.red() + corner.green() + corner.blue(), 200) << corner.name().toStdString();
    compositor.stop();
    ASSERT_TRUE(waitUntil([] { return !platform::desktopComposites(); }, 10s));
    testToast().show("Clip saved", "Desktop · 0:30");
    EXPECT_FALSE(view->composited());
}

TEST_F(ToastE2e, WhereNoPanelMayBePlacedEachToastReplacesTheLastNotification) {
    FakeNotifications server;
    QDBusConnection bus = QDBusConnection::sessionBus();
    ASSERT_TRUE(bus.registerService("org.freedesktop.Notifications"));
    ASSERT_TRUE(bus.registerObject("/org/freedesktop/Notifications", &server,
                                   QDBusConnection::ExportAllSlots));
    testToast().setPresentation(Toast::Presentation::notification);
    const bool panelShown = testToast().view() && testToast().view()->isVisible();

    testToast().show("Clip saved", "Minecraft · 0:30 <b>");
    ASSERT_TRUE(waitUntil([&] { return server.shown.size() == 1; }, 10s));
    pump(200ms);
    testToast().show("Couldn't save the clip", "Nothing recorded yet. Give it a second.",
                     ToastKind::problem);
    ASSERT_TRUE(waitUntil([&] { return server.shown.size() == 2; }, 10s));
    testToast().setPresentation(Toast::Presentation::panel);
    bus.unregisterObject("/org/freedesktop/Notifications");
    bus.unregisterService("org.freedesktop.Notifications");

    EXPECT_EQ(server.shown[0].replaces, 0u);
    EXPECT_EQ(server.shown[0].summary, "Clip saved");
    EXPECT_EQ(server.shown[0].body, "Minecraft · 0:30 &lt;b&gt;") << "bodies may hold markup";
    EXPECT_EQ(server.shown[0].urgency, 0);
    EXPECT_EQ(server.shown[0].timeout, 3000);
    EXPECT_EQ(server.shown[1].replaces, 41u);
    EXPECT_EQ(server.shown[1].urgency, 1);
    EXPECT_EQ(testToast().view() && testToast().view()->isVisible(), panelShown)
        << "no panel of our own";
}

} // namespace
} // namespace vantel

#include "ToastE2eTest.moc"
