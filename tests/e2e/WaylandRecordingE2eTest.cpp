// The program on a Wayland desktop (tests/e2e/session.sh --wayland, QT_QPA_PLATFORM=wayland),
// as a player meets it: the first start opens the welcome window, "Allow Screen Recording"
// (Space, the focused button) opens the desktop's dialog, Return starts recording through the
// screen-cast portal. `vantel-record save 5` then gives a five-second clip of a still screen at
// 30 frames a second whose pictures show the test window's colours, with the game tone and the
// microphone tone each on its own track. The second start records at once, without the dialog.

#include "ColourCard.h"
#include "E2eSupport.h"
#include "app/ProgramRig.h"
#include "common/TestEnv.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QUuid>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

using namespace vantel;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

using e2e::dialogsShown;
using e2e::near;
using e2e::Rgb;
using e2e::show;

bool windowShown(const QString& title) {
    return e2e::runTool("swaymsg", {"-t", "get_tree"})
        .contains("\"name\": \"" + title.toUtf8() + "\"");
}

using e2e::program::Home;
using e2e::program::Outcome;
using e2e::program::Program;

// An onboarded user recording the desktop at 720p30 with the microphone, on Wayland.
void onWayland(Home& home) {
    home.env.insert("QT_QPA_PLATFORM", "wayland");
    home.onboard(15, "recordMic=true\n");
}

// One decoded picture of the clip, at `seconds`, as RGB.
QImage pictureAt(const QString& clip, double seconds) {
    const QByteArray png =
        e2e::runTool("ffmpeg", {"-v", "error", "-ss", QString::number(seconds), "-i", clip,
                                "-frames:v", "1", "-f", "image2pipe", "-c:v", "png", "-"});
    return QImage::fromData(png, "PNG");
}

Rgb at(const QImage& image, int x, int y) {
    const QRgb p = image.pixel(x, y);
    return {qRed(p), qGreen(p), qBlue(p)};
}

// Saves five seconds and checks the clip: its length, a picture every 1/30 s although the
// screen stood still, the card's colours, and each tone on its own track.
void checkFiveSecondClip(const Home& home, bool flipped) {
    const Outcome saved = home.cli({"save", "5"});
    ASSERT_EQ(saved.status, 0) << saved.err.toStdString();
    const QString clip = saved.out.section('\n', 0, 0).trimmed();
    ASSERT_TRUE(QFile::exists(clip)) << clip.toStdString();

    const std::vector<double> times = e2e::videoFrameTimes(clip.toStdString());
    const auto shown =
        std::count_if(times.begin(), times.end(), [](double t) { return t >= 0.0 && t < 5.0; });
    // Of a still screen the compositor sends hardly a picture; the clip still has 30 a second
    // (a loaded machine may miss a few ticks, as on X11).
    EXPECT_GE(shown, 135) << "a still screen keeps 30 frames a second";
    EXPECT_LE(shown, 151);
    ASSERT_GE(times.size(), 2u);
    EXPECT_NEAR(times.back() - times.front(), 5.0, 0.1);

    const QImage picture = pictureAt(clip, 2.5);
    ASSERT_EQ(picture.size(), QSize(1280, 720));
    const Rgb left = at(picture, 320, 360), right = at(picture, 960, 360);
    EXPECT_TRUE(near(left, flipped ? e2e::kCardGreen : e2e::kCardRed)) << show(left);
    EXPECT_TRUE(near(right, flipped ? e2e::kCardRed : e2e::kCardGreen)) << show(right);

    const e2e::ToneLevel game = e2e::measureTone(e2e::decodeAudio(clip.toStdString(), 0), 440);
    const e2e::ToneLevel gameAtMic =
        e2e::measureTone(e2e::decodeAudio(clip.toStdString(), 0), 1000);
    const e2e::ToneLevel mic = e2e::measureTone(e2e::decodeAudio(clip.toStdString(), 1), 1000);
    EXPECT_GT(game.rms, 0.05);
    EXPECT_GT(game.share, 0.6);
    EXPECT_LT(gameAtMic.share, 0.05) << "the microphone does not leak into the game track";
    EXPECT_GT(mic.rms, 0.05);
    EXPECT_GT(mic.share, 0.6);
}

} // namespace

TEST(WaylandRecording, PortalOnceThenSavedClipsShowTheScreenAndCarryBothTones) {
    e2e::Child card(VANTEL_TEST_COLOURS, {});
    ASSERT_TRUE(e2e::waitUntil([] { return windowShown("Vantel colours"); }, 10s));
    e2e::Child gameTone = e2e::playTone("game", 440, 90);
    e2e::Child micTone = e2e::playTone("mic", 1000, 90);
    bool flipped = false;
    // wlroots sends a new cast nothing until the screen changes, and a closed cast of the portal
    // takes the first change: turn the card over twice, then leave the screen still.
    auto changeScreen = [&] {
        for (int i = 0; i < 2; ++i) {
            card.send("flip");
            flipped = !flipped;
            e2e::waitUntil([] { return false; }, 300ms);
        }
    };

    const int before = dialogsShown();
    Home home;
    onWayland(home);
    {
        Program program(home);
        ASSERT_TRUE(e2e::waitUntil([] { return windowShown("Vantel Record"); }, 20s))
            << "no welcome window without permission";
        EXPECT_EQ(dialogsShown() - before, 0);
        e2e::runTool("wtype", {"-k", "space"}); // "Allow Screen Recording"
        ASSERT_TRUE(
            e2e::waitUntil([&] { return home.settingsText().contains("screenCastToken="); }, 20s));
        EXPECT_EQ(dialogsShown() - before, 1);
        e2e::waitUntil([] { return false; }, 1500ms); // the window reads the permission anew
        e2e::runTool("wtype", {"-k", "Return"});      // "Start"
        ASSERT_TRUE(home.waitForStatus("Recording Desktop", 30s));
        changeScreen();
        ASSERT_TRUE(home.waitForReady(7));
        checkFiveSecondClip(home, flipped);
    }
    EXPECT_EQ(dialogsShown() - before, 1);

    Program again(home);
    ASSERT_TRUE(home.waitForStatus("Recording Desktop", 30s));
    EXPECT_FALSE(windowShown("Vantel Record")) << "the second start needs no welcome";
    changeScreen();
    ASSERT_TRUE(home.waitForReady(7));
    checkFiveSecondClip(home, flipped);
    EXPECT_EQ(dialogsShown() - before, 1) << "the kept choice spares the dialog";
}
