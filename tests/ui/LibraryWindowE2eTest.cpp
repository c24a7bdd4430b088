// The library window on the session's X display with real clip files and the PulseAudio null
// sink: thumbnails on the cards, a clip that plays, the microphone slider silencing the
// microphone track in what is heard, a trimmed copy of the chosen length, the freedesktop
// Trash. Leaves the "library-…" screenshots at the first and at the minimum window size.

#include "LibraryTestSupport.h"
#include "common/Screenshots.h"
#include "common/Shell.h"
#include "settings/Settings.h"
#include "ui/ClipDetail.h"
#include "ui/ClipGrid.h"
#include "ui/LibraryWindow.h"
#include "ui/MpvPlayer.h"
#include "ui/PlayerView.h"
#include "ui/ThumbnailCache.h"
#include "ui/TrimBar.h"

#include <QDir>
#include <QProcess>
#include <QPushButton>
#include <QSlider>
#include <QToolButton>
#include <cmath>
#include <cstdio>
#include <gtest/gtest.h>

namespace vantel {
namespace {

using test::eventually;
using test::TestLibrary;

// 12 s of a moving test picture with a 440 Hz game track and a 1 kHz microphone track, or a
// game track alone.
QString makeClip(bool withMic) {
    const QString path =
        QString::fromStdString(test::testHome().string()) +
        (withMic ? QStringLiteral("/source-mic.mp4") : QStringLiteral("/source.mp4"));
    if (QFile::exists(path))
        return path;
    std::string command =
        "ffmpeg -v error -y -f lavfi -i testsrc2=size=640x360:rate=30:duration=12 "
        "-f lavfi -i sine=frequency=440:sample_rate=48000:duration=12 ";
    if (withMic)
        command += "-f lavfi -i sine=frequency=1000:sample_rate=48000:duration=12 "
                   "-map 0:v -map 1:a -map 2:a ";
    command += "-c:v libx264 -preset veryfast -pix_fmt yuv420p -g 30 -c:a aac -ac 2 '" +
               path.toStdString() + "' 2>&1";
    const std::string output = test::run(command);
    EXPECT_TRUE(QFile::exists(path)) << output;
    return path;
}

double probeDuration(const QString& path) {
    const std::string out = test::run(
        "ffprobe -v error -show_entries format=duration -of csv=p=0 '" + path.toStdString() + "'");
    return std::atof(out.c_str());
}

// Level in dB of one frequency in a block of mono samples (Goertzel), 0 dB = full-scale sine.
double toneDb(const std::vector<float>& samples, size_t from, size_t count, double hz) {
    const double k = 2.0 * std::cos(2.0 * M_PI * hz / 48000.0);
    double s1 = 0, s2 = 0;
    for (size_t i = from; i < from + count; ++i) {
        const double s0 = samples[i] + k * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    const double power = s1 * s1 + s2 * s2 - k * s1 * s2;
    return 10.0 * std::log10(std::max(power, 1e-20) / (count * count / 4.0));
}

std::vector<float> readWavMono(const QString& path) {
    QFile file(path);
    std::vector<float> mono;
    if (!file.open(QIODevice::ReadOnly))
        return mono;
    const QByteArray bytes = file.readAll();
    const qsizetype data = bytes.indexOf("data");
    if (data < 0)
        return mono;
    const auto* pcm = reinterpret_cast<const int16_t*>(bytes.constData() + data + 8);
    const qsizetype frames = (bytes.size() - data - 8) / 4;
    for (qsizetype i = 0; i < frames; ++i)
        mono.push_back((pcm[2 * i] + pcm[2 * i + 1]) / 65536.0f);
    return mono;
}

class LibraryWindowE2e : public ::testing::Test {
protected:
    TestLibrary lib{QStringLiteral("e2e")};
    std::unique_ptr<LibraryWindow> window;

    void open() {
        LibraryWindow::Services services{Settings::shared(), *lib.library};
        window = std::make_unique<LibraryWindow>(services);
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }
    void TearDown() override {
        window.reset();
        QThreadPool::globalInstance()->waitForDone();
    }
    void shots(const QString& name) {
        window->resize(1080, 700);
        QTest::qWait(400);
        test::saveWidgetShot(window.get(), name);
        window->resize(window->minimumSize());
        QTest::qWait(400);
        test::saveWidgetShot(window.get(), name + QStringLiteral("-min"));
        window->resize(1080, 700);
        QTest::qWait(200);
    }
    bool allPicturesLoaded() {
        for (const Clip& clip : window->shown())
            if (window->thumbnails()->picture(clip).isNull())
                return false;
        return true;
    }
    ClipDetail* openPlaying(const Clip& clip) {
        window->select(clip);
        ClipDetail* detail = window->detail();
        MpvPlayer* player = detail->playerView()->player();
        EXPECT_TRUE(eventually([&] { return player->position() > 0.8; }, 20000))
            << "position " << player->position();
        return detail;
    }
};

TEST_F(LibraryWindowE2e, EmptyLibrary) {
    open();
    EXPECT_EQ(window->showing(), "empty");
    shots(QStringLiteral("library-empty"));
}

TEST_F(LibraryWindowE2e, GridWithSeveralGamesShowsThumbnails) {
    const char* games[] = {"Minecraft", "Counter-Strike 2", "Roblox", "Minecraft",
                           "Hades II",  "Minecraft",        "Roblox"};
    for (int i = 0; i < 7; ++i) {
        const QString title = QStringLiteral("%1 2025-03-01 at 14.%2.09").arg(games[i]).arg(10 + i);
        const auto link = i == 1 ? std::optional<QString>("https://x/1") : std::nullopt;
        lib.add(games[i], title, i % 2 == 0, i * 97, link, makeClip(false));
    }
    ASSERT_TRUE(lib.published(7));
    open();
    ASSERT_TRUE(eventually([&] { return allPicturesLoaded(); }, 30000));
    QTest::qWait(200);
    shots(QStringLiteral("library-grid"));
}

TEST_F(LibraryWindowE2e, AClipPlaysAndTheMicSliderSilencesTheMicrophoneTrack) {
    const Clip clip = lib.add("Minecraft", "Clutch round", true, 1, std::nullopt, makeClip(true));
    ASSERT_TRUE(lib.published(1));
    open();
    const QString wav = QString::fromStdString(test::testHome().string()) + "/heard.wav";
    QProcess parec;
    parec.start("parec", {"-d", "game.monitor", "--latency-msec=20", "--format=s16le",
                          "--rate=48000", "--channels=2", "--file-format=wav", wav});
    ASSERT_TRUE(parec.waitForStarted());
    ClipDetail* detail = openPlaying(clip);
    MpvPlayer* player = detail->playerView()->player();
    EXPECT_TRUE(player->mixing());
    QTest::qWait(1500);
    shots(QStringLiteral("library-detail-playing"));
    const double switchAt = player->position();
    window->findChild<QSlider*>(QStringLiteral("micSlider"))->setValue(0);
    ASSERT_TRUE(eventually([&] { return player->position() > switchAt + 2.5; }, 20000));
    player->pause();
    QTest::qWait(600);
    parec.terminate();
    ASSERT_TRUE(parec.waitForFinished(5000));

    const std::vector<float> heard = readWavMono(wav);
    const size_t block = 4800; // 0.1 s
    ASSERT_GT(heard.size(), block * 30) << "recorded " << heard.size() << " samples";
    // Blocks where the game tone plays; in them the mic tone is first there, then gone for good.
    int bothBlocks = 0, gameOnlyBlocks = 0, micAfterSilence = 0, quietGame = 0;
    for (size_t at = 0; at + block <= heard.size(); at += block) {
        const double game = toneDb(heard, at, block, 440);
        const double mic = toneDb(heard, at, block, 1000);
        if (game < -40 && mic < -40)
            continue; // before or after playback
        if (game < -30)
            ++quietGame;
        if (mic > -30)
            gameOnlyBlocks > 0 ? ++micAfterSilence : ++bothBlocks;
        else if (mic < -60)
            ++gameOnlyBlocks;
    }
    std::printf("heard: %d blocks with both tones, %d with the game tone alone after mic 0, "
                "%d with the mic back, %d with the game tone quiet\n",
                bothBlocks, gameOnlyBlocks, micAfterSilence, quietGame);
    EXPECT_GE(bothBlocks, 8);
    EXPECT_GE(gameOnlyBlocks, 10);
    EXPECT_EQ(micAfterSilence, 0);
    EXPECT_LE(quietGame, 2) << "the game sound dropped out";
}

TEST_F(LibraryWindowE2e, TrimmedCopyHasTheChosenLength) {
    const Clip clip = lib.add("Roblox", "Obby", false, 1, std::nullopt, makeClip(false));
    ASSERT_TRUE(lib.published(1));
    open();
    ClipDetail* detail = openPlaying(clip);
    window->findChild<QPushButton*>(QStringLiteral("trimButton"))->click();
    TrimBar* bar = window->findChild<TrimBar*>();
    ASSERT_TRUE(eventually([&] { return bar->isVisible() && bar->duration() > 11; }));
    const int y = bar->height() / 2;
    QTest::mousePress(bar, Qt::LeftButton, {}, QPoint(bar->xOf(0) - 6, y));
    QTest::mouseMove(bar, QPoint(bar->xOf(2.0) - 6, y));
    QTest::mouseRelease(bar, Qt::LeftButton, {}, QPoint(bar->xOf(2.0) - 6, y));
    QTest::mousePress(bar, Qt::LeftButton, {}, QPoint(bar->xOf(12) + 6, y));
    QTest::mouseMove(bar, QPoint(bar->xOf(7.5) + 6, y));
    QTest::mouseRelease(bar, Qt::LeftButton, {}, QPoint(bar->xOf(7.5) + 6, y));
    const double in = bar->in(), out = bar->out();
    EXPECT_NEAR(in, 2.0, 0.2);
    EXPECT_NEAR(out, 7.5, 0.2);
    // The frame at the dragged handle is shown.
    ASSERT_TRUE(eventually(
        [&] { return std::abs(detail->playerView()->player()->position() - out) < 0.1; }));
    shots(QStringLiteral("library-trim"));
    window->findChild<QPushButton*>(QStringLiteral("trimConfirm"))->click();
    auto* save = window->findChild<QPushButton*>(QStringLiteral("saveTrimButton"));
    EXPECT_TRUE(save->isVisible());
    save->click();
    ASSERT_TRUE(lib.published(2));
    const QString copy = QFileInfo(clip.url).path() + "/Obby trimmed.mp4";
    ASSERT_TRUE(QFile::exists(copy));
    EXPECT_NEAR(probeDuration(copy), out - in, 0.1);
    ASSERT_TRUE(eventually([&] { return !detail->busy(); }));
    EXPECT_FALSE(detail->error().has_value());
    EXPECT_FALSE(detail->trim().has_value());
}

TEST_F(LibraryWindowE2e, MoveToTrashUsesTheFreedesktopTrash) {
    const Clip clip = lib.add("Roblox", "Fall", false, 1, std::nullopt, makeClip(false));
    ASSERT_TRUE(lib.published(1));
    open();
    window->select(clip);
    window->findChild<QToolButton*>(QStringLiteral("trashButton"))->click();
    ASSERT_TRUE(lib.published(0));
    EXPECT_EQ(window->showing(), "empty");
    const QString trash = qEnvironmentVariable("XDG_DATA_HOME") + "/Trash";
    EXPECT_TRUE(QFile::exists(trash + "/files/Fall.mp4"));
    EXPECT_TRUE(QFile::exists(trash + "/info/Fall.mp4.trashinfo"));
}

} // namespace
} // namespace vantel
