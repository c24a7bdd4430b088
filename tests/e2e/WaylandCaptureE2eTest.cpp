// The Wayland capture backend inside tests/e2e/session.sh --wayland: the screen-cast portal's
// dialog (the session's logging chooser) comes once, when permission is asked; later casts
// restore the choice without it; a choice the portal cannot use asks again, and a refusal
// forgets it. A still window's colours arrive at the asked size, and a still
// screen, of which the compositor sends hardly a picture, still gives frames at the full rate. A
// start that fails after the cast was opened closes it.

#include "ColourCard.h"
#include "E2eSupport.h"
#include "common/TestEnv.h"
#include "engine/CaptureController.h"
#include "platform/capture/CaptureBackend.h"
#include "platform/capture/wayland/WaylandCaptureBackend.h"
#include "platform/capture/wayland/WaylandCaptureStream.h"

#include <QImage>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <thread>

extern "C" {
#include <libavutil/frame.h>
}

using namespace vantel;
using namespace vantel::platform;
using namespace std::chrono_literals;

namespace {

using e2e::dialogsShown;
using e2e::near;
using e2e::Rgb;
using e2e::show;

// BT.709 limited range back to RGB.
Rgb pixel(const AVFrame& f, int x, int y) {
    const double Y = f.data[0][y * f.linesize[0] + x] - 16.0;
    const double U = f.data[1][(y / 2) * f.linesize[1] + x / 2] - 128.0;
    const double V = f.data[2][(y / 2) * f.linesize[2] + x / 2] - 128.0;
    auto clamp = [](double v) {
        return std::clamp(int(v + 0.5), 0, 255);
    };
    return {clamp(1.164 * Y + 1.793 * V), clamp(1.164 * Y - 0.213 * U - 0.533 * V),
            clamp(1.164 * Y + 2.112 * U)};
}

struct Recorder : SampleHandler {
    std::mutex lock;
    std::vector<double> pts;
    media::FramePtr last;
    std::vector<std::string> stops;

    void onVideo(const media::VideoFrame& f, FrameStatus status) override {
        std::lock_guard l(lock);
        EXPECT_EQ(status, FrameStatus::complete);
        pts.push_back(f.pts);
        last.reset(av_frame_clone(f.frame.get()));
    }
    void onAudio(const media::AudioChunk&, bool) override {}
    void onStreamStopped(const std::string& error) override {
        std::lock_guard l(lock);
        stops.push_back(error);
    }
    size_t frames() {
        std::lock_guard l(lock);
        return pts.size();
    }
};

// The colour card fills the output once the compositor shows it.
bool cardShown() {
    const QByteArray png = e2e::runTool("grim", {"-o", "HEADLESS-1", "-"});
    const QImage shot = QImage::fromData(png, "PNG");
    return !shot.isNull() && near({qRed(shot.pixel(320, 360)), qGreen(shot.pixel(320, 360)),
                                   qBlue(shot.pixel(320, 360))},
                                  e2e::kCardRed);
}

// The screen casts open on the session's PipeWire: each is one video source node of the portal.
int castsOpen(QByteArray* listing = nullptr) {
    const QByteArray nodes = e2e::runTool("pw-cli", {"ls", "Node"});
    if (listing)
        *listing = nodes;
    return int(nodes.count("media.class = \"Video/Source\""));
}

// The PipeWire id of the portal's one open cast, or empty.
QString castNode() {
    const QList<QByteArray> lines = e2e::runTool("pw-cli", {"ls", "Node"}).split('\n');
    QByteArray id;
    for (const QByteArray& line : lines) {
        const QByteArray text = line.trimmed();
        if (text.startsWith("id "))
            id = text.mid(3, text.indexOf(',') - 3);
        else if (text == "media.class = \"Video/Source\"")
            return QString::fromLatin1(id);
    }
    return {};
}

// A capture controller over the portal that records the desktop, with the states it published.
struct PortalCapture {
    std::string kept;
    std::vector<CaptureController::State> states;
    std::unique_ptr<CaptureController> capture;

    PortalCapture() {
        auto backend = std::make_unique<WaylandCaptureBackend>();
        backend->setPermissionStore({[this] { return kept; },
                                     [this](const std::string& t) {
                                         kept = t;
                                     }});
        EXPECT_TRUE(backend->requestPermission());
        capture = std::make_unique<CaptureController>(std::move(backend));
        capture->setConfigProvider([] {
            CaptureConfig config;
            config.mode = CaptureMode::always;
            config.fps = 30;
            config.maxHeight = 360;
            return config;
        });
        capture->setCurrentGameProvider([] { return std::optional<GameTarget>(); });
        capture->onState = [this](const CaptureController::State& state) {
            states.push_back(state);
        };
    }
    bool is(CaptureController::State::Kind kind) const {
        return !states.empty() && states.back().kind == kind;
    }
};

} // namespace

TEST(WaylandCapture, PortalDialogOnceThenStillScreenAtFullRateWithTheWindowsColours) {
    e2e::Child card(VANTEL_TEST_COLOURS, {});
    ASSERT_TRUE(e2e::waitUntil(cardShown, 10s)) << "the colour card did not show";

    const int before = dialogsShown();
    std::string kept;
    WaylandCaptureBackend backend;
    backend.setPermissionStore({[&] { return kept; },
                                [&](const std::string& t) {
                                    kept = t;
                                }});
    EXPECT_FALSE(backend.hasPermission()) << "nothing was allowed yet";
    EXPECT_THROW(backend.displays(), PermissionDenied) << "a start must not ask by itself";
    EXPECT_EQ(dialogsShown() - before, 0);

    ASSERT_TRUE(backend.requestPermission());
    EXPECT_EQ(dialogsShown() - before, 1);
    EXPECT_FALSE(kept.empty());

    bool flipped = false;
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE("run " + std::to_string(run));
        const std::vector<CaptureDisplay> displays = backend.displays();
        ASSERT_EQ(displays.size(), 1u);
        EXPECT_EQ(displays[0].width, 1280);
        EXPECT_EQ(displays[0].height, 720);
        EXPECT_EQ(backend.mainDisplay(), displays[0].id);

        Recorder rec;
        StreamConfig config{displays[0], 640, 360, 30, run == 1, false};
        auto stream = backend.createStream(config, rec);
        stream->start();
        // wlroots sends a cast only what changed since its last copy for the portal, and the
        // portal's closed cast of the run before takes the first change: change the screen
        // until a picture comes.
        e2e::waitUntil([&] { return rec.frames() > 0; }, 300ms);
        for (int flips = 0; flips < 5 && rec.frames() == 0; ++flips) {
            card.send("flip");
            flipped = !flipped;
            e2e::waitUntil([&] { return rec.frames() > 0; }, 1s);
        }
        ASSERT_GT(rec.frames(), 0u)
            << "no picture came" << (rec.stops.empty() ? "" : ": " + rec.stops.front());
        std::this_thread::sleep_for(500ms);
        const double from = media::captureClockNow();
        std::this_thread::sleep_for(3s);
        const double to = media::captureClockNow();
        stream->stop();

        std::lock_guard l(rec.lock);
        EXPECT_TRUE(rec.stops.empty()) << rec.stops.front();
        const auto* wayland = dynamic_cast<WaylandCaptureStream*>(stream.get());
        ASSERT_NE(wayland, nullptr);
        // A still screen: a few pictures from the compositor, yet 30 frames a second.
        EXPECT_LE(wayland->receivedPictures(), 10u);
        const auto still = std::count_if(rec.pts.begin(), rec.pts.end(),
                                         [&](double t) { return t >= from && t < to; });
        EXPECT_GE(double(still), (to - from) * 30 * 0.9);
        EXPECT_LE(double(still), (to - from) * 30 + 2);
        for (size_t i = 1; i < rec.pts.size(); ++i)
            ASSERT_GT(rec.pts[i], rec.pts[i - 1]);
        ASSERT_TRUE(rec.last);
        EXPECT_EQ(rec.last->width, 640);
        EXPECT_EQ(rec.last->height, 360);
        const Rgb left = pixel(*rec.last, 160, 180), right = pixel(*rec.last, 480, 180);
        EXPECT_TRUE(near(left, flipped ? e2e::kCardGreen : e2e::kCardRed)) << show(left);
        EXPECT_TRUE(near(right, flipped ? e2e::kCardRed : e2e::kCardGreen)) << show(right);
    }
    EXPECT_EQ(dialogsShown() - before, 1) << "the kept choice must spare the dialog";
}

// A kept choice the portal no longer knows makes it ask again, and a refusal then forgets it:
// the program asks for permission anew instead of failing every start.
TEST(WaylandCapture, AnUnknownChoiceAsksAgainAndARefusalForgetsIt) {
    const std::string chooser = std::string(std::getenv("VANTEL_SESSION_DIR")) + "/chooser";
    const int before = dialogsShown();
    std::string kept = "a-choice-from-another-desktop";
    WaylandCaptureBackend backend;
    backend.setPermissionStore({[&] { return kept; },
                                [&](const std::string& t) {
                                    kept = t;
                                }});
    EXPECT_TRUE(backend.hasPermission());
    ASSERT_EQ(backend.displays().size(), 1u);
    EXPECT_EQ(dialogsShown() - before, 1);
    EXPECT_FALSE(kept.empty());
    EXPECT_NE(kept, "a-choice-from-another-desktop");

    // The user closes the dialog without choosing.
    const std::string saved = chooser + ".saved";
    ASSERT_EQ(std::rename(chooser.c_str(), saved.c_str()), 0);
    // The session's chooser comes back whatever happens: later tests share it.
    std::shared_ptr<void> restore(nullptr,
                                  [&](void*) { std::rename(saved.c_str(), chooser.c_str()); });
    test::writeFile(chooser, "#!/bin/sh\nexit 1\n");
    std::filesystem::permissions(chooser, std::filesystem::perms::owner_all);
    kept = "a-choice-from-another-desktop";
    WaylandCaptureBackend next; // the first one holds a cast for its next stream
    next.setPermissionStore({[&] { return kept; },
                             [&](const std::string& t) {
                                 kept = t;
                             }});
    EXPECT_THROW(next.displays(), PermissionDenied);
    EXPECT_EQ(kept, "");
    EXPECT_FALSE(next.hasPermission());
}

// The display query opens the cast that the stream is to take over; when the start fails after
// it (here the run folder cannot be made), the cast is closed, not left open until the next run.
TEST(WaylandCapture, AStartThatFailsAfterTheDisplayQueryClosesItsCast) {
    PortalCapture rig;
    ASSERT_TRUE(e2e::waitUntil([] { return castsOpen() == 0; }, 5s))
        << "the cast of the permission request stays open";

    const std::filesystem::path blocker = test::testHome() / "cache-is-a-file";
    test::writeFile(blocker, "not a folder");
    const char* cache = std::getenv("XDG_CACHE_HOME");
    const std::string savedCache = cache ? cache : "";
    setenv("XDG_CACHE_HOME", (blocker / "cache").c_str(), 1);
    std::shared_ptr<void> restore(nullptr, [&](void*) {
        if (savedCache.empty())
            unsetenv("XDG_CACHE_HOME");
        else
            setenv("XDG_CACHE_HOME", savedCache.c_str(), 1);
    });

    rig.capture->sync();
    ASSERT_TRUE(e2e::waitUntil([&] { return rig.is(CaptureController::State::Kind::error); }, 20s));
    QByteArray listing;
    EXPECT_TRUE(e2e::waitUntil([&] { return castsOpen(&listing) == 0; }, 3s))
        << "the failed start left its screen cast open:\n"
        << listing.toStdString();
}

// The desktop ends the share while recording (its cast goes away, as when the user stops sharing
// or the portal's backend dies): the run fails and says so, instead of recording the last
// picture for ever, and starts again by itself with a new cast.
TEST(WaylandCapture, AShareTheDesktopEndsFailsTheRunWhichStartsAgain) {
    PortalCapture rig;
    rig.capture->setRestartDelay(500ms);
    rig.capture->sync();
    ASSERT_TRUE(
        e2e::waitUntil([&] { return rig.is(CaptureController::State::Kind::recording); }, 20s));
    const QString node = castNode();
    ASSERT_FALSE(node.isEmpty());

    QByteArray errors;
    e2e::runTool("pw-cli", {"destroy", node}, &errors);
    ASSERT_TRUE(e2e::waitUntil([&] { return rig.is(CaptureController::State::Kind::error); }, 5s))
        << "still recording a share that ended " << errors.toStdString();
    EXPECT_EQ(rig.states.back().text, "The screen share ended.");

    ASSERT_TRUE(
        e2e::waitUntil([&] { return rig.is(CaptureController::State::Kind::recording); }, 20s));
    EXPECT_FALSE(castNode().isEmpty());
    EXPECT_NE(castNode(), node) << "a new cast";
    rig.capture->stop();
    EXPECT_TRUE(e2e::waitUntil([&] { return rig.is(CaptureController::State::Kind::off); }, 10s));
    EXPECT_TRUE(e2e::waitUntil([] { return castsOpen() == 0; }, 5s));
}
