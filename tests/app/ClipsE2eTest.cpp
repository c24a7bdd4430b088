// The Clips window of the running program, used from outside as a person uses it: the program
// records the stand-in game with its sound and a microphone, `vantel-record save` makes clips,
// the tray menu opens the window, and the pointer (xdotool) opens a clip, turns the microphone
// down while it plays (heard on the session's sink), trims it and moves a clip to the Trash.
// The window says where its controls are through VANTEL_WIDGET_MAP.

#include "E2eSupport.h"
#include "ProgramRig.h"

#include <QFileInfo>
#include <QHash>
#include <QImage>
#include <QRect>
#include <QThread>
#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>

namespace vantel {
namespace {

using namespace std::chrono_literals;
using namespace e2e::program;
using e2e::runTool;
using e2e::waitUntil;

struct Item {
    QRect rect;
    QString text; // the card's path or the menu item's text
};

// What the window's map file says.
struct WindowMap {
    QHash<QString, QRect> named;
    QList<Item> cards, actions;

    static WindowMap read(const QString& path) {
        WindowMap map;
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return map;
        for (const QString& line : QString::fromUtf8(file.readAll()).split('\n')) {
            const QStringList f = line.split(' ');
            if (f.size() < 5)
                continue;
            const QRect rect(f[1].toInt(), f[2].toInt(), f[3].toInt(), f[4].toInt());
            const QString tail = line.section(' ', 5);
            if (f[0] == "card")
                map.cards.append({rect, tail});
            else if (f[0] == "action")
                map.actions.append({rect, tail});
            else
                map.named.insert(f[0], rect);
        }
        return map;
    }
    bool has(const QString& name) const { return named.contains(name); }
    QPoint centre(const QString& name) const { return named.value(name).center(); }
    std::optional<Item> card(const QString& path) const {
        for (const Item& card : cards)
            if (card.text == path)
                return card;
        return std::nullopt;
    }
};

class Pointer {
public:
    static void click(QPoint at, int button = 1) {
        runTool("xdotool", {"mousemove", QString::number(at.x()), QString::number(at.y()), "sleep",
                            "0.1", "click", QString::number(button)});
    }
    // Presses at `from`, moves to `to` in steps, releases.
    static void drag(QPoint from, QPoint to) {
        QStringList steps{"mousemove",
                          QString::number(from.x()),
                          QString::number(from.y()),
                          "sleep",
                          "0.1",
                          "mousedown",
                          "1"};
        for (int i = 1; i <= 4; ++i) {
            const QPoint at = from + (to - from) * i / 4;
            steps << "sleep"
                  << "0.05"
                  << "mousemove" << QString::number(at.x()) << QString::number(at.y());
        }
        steps << "sleep"
              << "0.1"
              << "mouseup"
              << "1";
        runTool("xdotool", steps);
    }
};

// A screenshot of the screen area `area`, saved under the screenshots folder.
QImage shoot(const QString& name, const QRect& area) {
    const QString file = test::screenshotDir() + "/" + name + ".png";
    runTool("import", {"-window", "root", "-crop",
                       QStringLiteral("%1x%2+%3+%4")
                           .arg(area.width())
                           .arg(area.height())
                           .arg(area.x())
                           .arg(area.y()),
                       "+repage", file});
    return QImage(file);
}

// Share of the picture area of a card (in window coordinates) that shows the game's bright
// stripes rather than the dark placeholder.
double colourfulShare(const QImage& shot, const QRect& card) {
    const int width = card.width() - 16;
    const QRect picture(card.left() + 8, card.top() + 8, width, width * 9 / 16);
    int colourful = 0, all = 0;
    for (int y = picture.top(); y <= picture.bottom(); y += 2)
        for (int x = picture.left(); x <= picture.right(); x += 2) {
            const QColor c = shot.pixelColor(x, y);
            colourful += c.hsvSaturation() > 120 && c.value() > 120;
            ++all;
        }
    return all ? double(colourful) / all : 0.0;
}

struct Heard {
    int both = 0;     // 0.1 s blocks with the game and the microphone tone before the switch
    int gameOnly = 0; // blocks with the game tone alone after it
    int micAgain = 0; // blocks with the microphone tone after it
    int gameLost = 0; // blocks without the game tone
};

// Amplitudes of the tone at `hz` in 0.1 s blocks.
std::vector<double> toneBlocks(const std::vector<float>& samples, double hz) {
    const size_t block = 4800;
    std::vector<double> amplitudes;
    for (size_t at = 0; at + block <= samples.size(); at += block) {
        const std::vector<float> part(samples.begin() + at, samples.begin() + at + block);
        const e2e::ToneLevel level = e2e::measureTone(part, hz);
        amplitudes.push_back(level.rms * std::sqrt(level.share));
    }
    return amplitudes;
}

double median(std::vector<double> values) {
    if (values.empty())
        return 0.0;
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

// Blocks whose amplitude is under half the typical one, the first and last block left out.
int gaps(const std::vector<double>& amplitudes) {
    if (amplitudes.size() < 3)
        return 0;
    const double typical = median(amplitudes);
    return int(std::count_if(amplitudes.begin() + 1, amplitudes.end() - 1,
                             [&](double a) { return a < typical / 2; }));
}

Heard listen(const QString& wav) {
    const std::vector<float> samples = e2e::decodeAudio(wav.toStdString(), 0);
    std::vector<double> game = toneBlocks(samples, 440), mic = toneBlocks(samples, 1000);
    // Playback: from the first to the last block with the game tone.
    const auto first = std::find_if(game.begin(), game.end(), [](double a) { return a > 0.01; });
    const auto last = std::find_if(game.rbegin(), game.rend(), [](double a) { return a > 0.01; });
    Heard heard;
    if (first == game.end())
        return heard;
    const auto from = first - game.begin(), to = last.base() - game.begin();
    game = std::vector<double>(game.begin() + from, game.begin() + to);
    mic = std::vector<double>(mic.begin() + from, mic.begin() + to);
    heard.gameLost = gaps(game);
    const double typical = median(game);
    bool switched = false;
    for (size_t i = 0; i < game.size(); ++i) {
        switched = switched || mic[i] < typical / 100;
        if (!switched && mic[i] > typical / 3)
            ++heard.both;
        else if (switched && mic[i] > typical / 3)
            ++heard.micAgain;
        else if (switched && mic[i] < typical / 100)
            ++heard.gameOnly;
    }
    return heard;
}

TEST(Clips, TheProgramsClipsShowPlayBalanceTrimAndGoToTheTrash) {
    Watcher watcher;
    Home home;
    home.onboard(15, "recordMic=true\n");
    const QString mapFile = home.path("widgets.map");
    home.env.insert("VANTEL_WIDGET_MAP", mapFile);
    const auto map = [&] {
        return WindowMap::read(mapFile);
    };
    const auto waitForMap = [&](const std::function<bool(const WindowMap&)>& done,
                                std::chrono::milliseconds limit = 20s) {
        return waitUntil([&] { return done(map()); }, limit);
    };

    // The game with its sound and the player's voice, from before the program starts, so that
    // every recorded second holds both tones.
    std::vector<e2e::Child> scene;
    scene.push_back(e2e::startGame(
        {"--title", "Clip Game", "--x", "0", "--y", "0", "--width", "1920", "--height", "1080"}));
    scene.push_back(e2e::playTone("game", 440, 40));
    scene.push_back(e2e::playTone("mic", 1000, 40));
    Program program(home);
    const QString item = watcher.item();
    ASSERT_FALSE(item.isEmpty());
    // The clip leaves out the first seconds of the run: there a busy machine can still drop
    // sound while everything starts.
    ASSERT_TRUE(home.waitForReady(12));
    const Outcome first = home.cli({"save", "8"});
    ASSERT_EQ(first.status, 0) << first.err.toStdString();
    const Outcome second = home.cli({"save", "3"});
    ASSERT_EQ(second.status, 0) << second.err.toStdString();
    const QString longer = first.out.trimmed(), shorter = second.out.trimmed();
    scene.clear(); // from now on only the player sounds
    const double length = clipSeconds(longer);
    ASSERT_NEAR(length, 8.0, 0.2);
    EXPECT_EQ(gaps(toneBlocks(e2e::decodeAudio(longer.toStdString(), 0), 440)), 0)
        << "the recorded game sound has gaps";

    // The tray menu opens the window, which shows both clips with their pictures.
    ASSERT_TRUE(watcher.click(item, "Clips…"));
    ASSERT_TRUE(waitForMap([&](const WindowMap& m) {
        return m.has("window") && m.card(longer) && m.card(shorter);
    })) << "the window lists the program's clips "
        << longer.toStdString() << "\n"
        << runTool("cat", {mapFile}).toStdString();
    QThread::msleep(300);
    const auto picturesShown = [&] {
        const WindowMap m = map();
        const QRect window = m.named.value("window");
        const QImage grid = shoot("library-program-grid", window);
        for (const QString& path : {longer, shorter})
            if (!m.card(path) ||
                colourfulShare(grid, m.card(path)->rect.translated(-window.topLeft())) < 0.03)
                return false;
        return true;
    };
    EXPECT_TRUE(waitUntil(picturesShown, 30s)) << "thumbnails of the game on both cards";

    // Opening the longer clip plays it: the seek bar's handle moves and its sound is heard.
    const QString wav = home.path("heard.wav");
    e2e::Child parec("parec", {"-d", "game.monitor", "--latency-msec=20", "--format=s16le",
                               "--rate=48000", "--channels=2", "--file-format=wav", wav});
    Pointer::click(map().card(longer)->rect.center());
    ASSERT_TRUE(waitForMap([](const WindowMap& m) { return m.has("micSlider.handle"); }))
        << "the detail view with the volume row of a clip with a microphone";
    // Two seconds in.
    const QRect seek = map().named.value("seekBar");
    const int startX = map().named.value("seekBar.handle").x();
    ASSERT_TRUE(waitForMap([&](const WindowMap& m) {
        return m.named.value("seekBar.handle").x() > startX + int(2.0 * seek.width() / length);
    })) << "the playback position advances";
    shoot("library-program-detail", map().named.value("window"));

    const WindowMap playing = map();
    const QRect slider = playing.named.value("micSlider");
    Pointer::drag(playing.centre("micSlider.handle"),
                  QPoint(slider.left() - 40, slider.center().y()));
    ASSERT_TRUE(waitForMap([&](const WindowMap& m) {
        return m.named.value("micSlider.handle").left() <= slider.left() + 1;
    })) << "the microphone slider at 0";
    // Plays on for 2.5 s more, or to the end.
    const int switchX = map().named.value("seekBar.handle").x();
    const int laterX = switchX + int(2.5 * seek.width() / length);
    EXPECT_TRUE(waitForMap([&](const WindowMap& m) {
        const QRect handle = m.named.value("seekBar.handle");
        return handle.x() > laterX || handle.right() >= seek.right() - 2;
    })) << "playing on after the switch";
    QThread::msleep(600);
    parec.stop();
    const Heard heard = listen(wav);
    std::printf("heard: %d blocks with both tones, %d with the game tone alone after mic 0, "
                "%d with the mic back, %d without the game tone\n",
                heard.both, heard.gameOnly, heard.micAgain, heard.gameLost);
    EXPECT_GE(heard.both, 5);
    EXPECT_GE(heard.gameOnly, 10);
    EXPECT_EQ(heard.micAgain, 0);
    EXPECT_LE(heard.gameLost, 1) << "the game sound dropped out";

    // Trim from 2 s to 5.5 s with the handles and save the trimmed copy.
    Pointer::click(map().centre("trimButton"));
    ASSERT_TRUE(waitForMap([](const WindowMap& m) { return m.has("trimBar.in"); }));
    const WindowMap trimming = map();
    const QRect track = trimming.named.value("trimBar.track");
    const auto xAt = [&](double seconds) {
        return track.left() + int(std::lround(seconds / length * track.width()));
    };
    const QPoint in = trimming.named.value("trimBar.in").topLeft();
    Pointer::drag(in, QPoint(xAt(2.0) - 6, in.y()));
    const QPoint out = trimming.named.value("trimBar.out").topLeft();
    Pointer::drag(out, QPoint(xAt(5.5) + 6, out.y()));
    QThread::msleep(300);
    const WindowMap trimmed = map();
    const double chosenIn =
        (trimmed.named.value("trimBar.in").x() + 6 - track.left()) * length / track.width();
    const double chosenOut =
        (trimmed.named.value("trimBar.out").x() - 6 - track.left()) * length / track.width();
    EXPECT_NEAR(chosenIn, 2.0, 0.1);
    EXPECT_NEAR(chosenOut, 5.5, 0.1);
    shoot("library-program-trim", trimmed.named.value("window"));
    Pointer::click(trimmed.centre("trimConfirm"));
    ASSERT_TRUE(waitForMap([](const WindowMap& m) { return m.has("saveTrimButton"); }));
    Pointer::click(map().centre("saveTrimButton"));
    const QString copy = longer.chopped(4) + " trimmed.mp4";
    ASSERT_TRUE(waitUntil([&] { return QFile::exists(copy); }, 30s)) << copy.toStdString();
    EXPECT_NEAR(clipSeconds(copy), chosenOut - chosenIn, 0.15);
    EXPECT_EQ(decodeErrors(copy).toStdString(), "");

    // Back in the grid, the shorter clip's menu moves it to the Trash and out of the library.
    Pointer::click(map().centre("backButton"));
    ASSERT_TRUE(waitForMap([&](const WindowMap& m) { return m.cards.size() == 3; }));
    Pointer::click(map().card(shorter)->rect.center(), 3);
    ASSERT_TRUE(waitForMap([](const WindowMap& m) {
        return std::any_of(m.actions.begin(), m.actions.end(),
                           [](const Item& a) { return a.text == "Move to Trash"; });
    })) << "the card's menu";
    shoot("library-program-menu", map().named.value("window"));
    for (const Item& action : map().actions)
        if (action.text == "Move to Trash")
            Pointer::click(action.rect.center());
    const QString name = QFileInfo(shorter).fileName();
    const QString trash = home.path("data") + "/Trash";
    ASSERT_TRUE(waitUntil([&] { return QFile::exists(trash + "/files/" + name); }, 20s));
    EXPECT_TRUE(QFile::exists(trash + "/info/" + name + ".trashinfo"));
    EXPECT_FALSE(QFile::exists(shorter));
    EXPECT_TRUE(waitForMap([&](const WindowMap& m) {
        return m.cards.size() == 2 && !m.card(shorter) && m.card(longer) && m.card(copy);
    })) << "gone from the library";
}

} // namespace
} // namespace vantel
