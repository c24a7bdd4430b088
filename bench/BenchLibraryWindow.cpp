// The library window with 2,000 clips, on the session's X display (run it inside
// tests/e2e/session.sh).
//
// open_ms: from creating the window until its grid has painted the clip cards.
// The grid is then scrolled twice: flung from top to bottom (600 pixels every 30 ms), then paged
// back up a screen every 300 ms for 20 screens, resting long enough for the cards' pictures to
// be made meanwhile (the grid starts none while it scrolls by).
// max_block_ms: the longest gap between two ticks of a 5 ms timer on the main thread from the
//   window's creation until both scrolls were done and the card pictures asked for were
//   loaded. Target: at most 50. max_block_fling_ms and max_block_paging_ms: the same for each
//   scroll alone (the fling from the window's creation).
// max_busy_ms: the most CPU time the main thread spent between two such ticks; on a loaded
//   machine the wall-clock gaps above also hold time spent waiting for a core, the most of which
//   is max_runq_ms (read from the kernel's scheduler statistics of the thread).
// load_average: the machine's one-minute load at the end, to read the figures against.
// pictures_loaded: card pictures made from the clip files during the run.

#include "BlockMeter.h"
#include "library/Library.h"
#include "settings/Settings.h"
#include "ui/ClipGrid.h"
#include "ui/LibraryWindow.h"
#include "ui/ThumbnailCache.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <unistd.h>

using namespace vantel;
using vantel::bench::BlockMeter;

namespace {

constexpr int kClips = 2000;
constexpr int kGames = 20;

// Points the program's folders into `home` before anything reads them.
void privateHome(const QString& home) {
    for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"})
        qputenv(name, (home + u'/' + QString::fromLatin1(name)).toUtf8());
}

// 2,000 clip files (hard links of one short clip) in 20 game folders, all indexed.
QString makeClips(const QString& home) {
    const QString source = home + "/source.mp4";
    const std::string command =
        "ffmpeg -nostdin -y -v error -f lavfi -i testsrc2=size=1280x720:rate=30:duration=3 "
        "-f lavfi -i sine=frequency=440:duration=3 -c:v libx264 -preset veryfast "
        "-pix_fmt yuv420p -g 30 -c:a aac '" +
        source.toStdString() + "'";
    if (std::system(command.c_str()) != 0)
        std::fprintf(stderr, "ffmpeg failed\n");
    const QString folder = home + "/Clips";
    QByteArray index = "{";
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (int i = 0; i < kClips; ++i) {
        const QString game = QStringLiteral("Game %1").arg(i % kGames);
        const QString name = QStringLiteral("%1 clip %2").arg(game).arg(i, 4, 10, QChar(u'0'));
        const QString relative = game + u'/' + name + QStringLiteral(".mp4");
        QDir().mkpath(folder + u'/' + game);
        if (::link(source.toUtf8().constData(), (folder + u'/' + relative).toUtf8().constData()))
            QFile::copy(source, folder + u'/' + relative);
        ClipMeta meta;
        meta.title = name;
        meta.game = game;
        meta.created = ClipMeta::wholeSeconds(now.addSecs(-60 * i));
        meta.duration = 3;
        meta.width = 1280;
        meta.height = 720;
        if (i > 0)
            index.append(',');
        appendJsonString(index, relative);
        index.append(':');
        meta.appendJson(index);
    }
    index.append('}');
    QDir().mkpath(home + "/support");
    QFile file(home + "/support/library.json");
    if (file.open(QIODevice::WriteOnly))
        file.write(index);
    return folder;
}

double loadAverage() {
    double load[1] = {0};
    return getloadavg(load, 1) == 1 ? load[0] : -1;
}

void runUntil(const std::function<bool()>& done, int limitMs) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < limitMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

} // namespace

int main(int argc, char** argv) {
    QTemporaryDir home;
    privateHome(home.path());
    QApplication app(argc, argv);
    std::fprintf(stderr, "making %d clips...\n", kClips);
    const QString folder = makeClips(home.path());
    Library library({[folder] { return folder; }, home.path() + "/support"});
    runUntil([&] { return library.clips().size() == kClips; }, 20000);

    BlockMeter meter;
    int loads = 0;
    QElapsedTimer clock;
    clock.start();
    meter.start();
    LibraryWindow::Services services{Settings::shared(), library};
    services.reveal = [](const QString&) {
    };
    LibraryWindow window(services);
    QObject::connect(window.thumbnails(), &ThumbnailCache::ready, [&loads] { ++loads; });
    window.show();
    // Painted once the first card's picture was asked for: only painted cards ask.
    runUntil([&] { return window.thumbnails()->loading() > 0; }, 20000);
    const double openMs = clock.nsecsElapsed() / 1e6;

    QScrollBar* bar = window.grid()->verticalScrollBar();
    const auto picturesDone = [&] {
        return window.thumbnails()->loading() == 0 && window.thumbnails()->queued() == 0;
    };
    QTimer scroll;
    scroll.setInterval(30);
    QObject::connect(&scroll, &QTimer::timeout, [bar] { bar->setValue(bar->value() + 600); });
    scroll.start();
    runUntil([bar] { return bar->maximum() > 0 && bar->value() >= bar->maximum(); }, 120000);
    scroll.stop();
    runUntil(picturesDone, 30000);
    const double flingBlockMs = meter.phaseMs();

    int pages = 0;
    scroll.disconnect();
    scroll.setInterval(300);
    QObject::connect(&scroll, &QTimer::timeout, [bar, &pages] {
        bar->setValue(bar->value() - bar->pageStep());
        ++pages;
    });
    scroll.start();
    runUntil([&pages] { return pages >= 20; }, 60000);
    scroll.stop();
    runUntil(picturesDone, 30000);
    const double pagingBlockMs = meter.phaseMs();
    const double scrolledMs = clock.nsecsElapsed() / 1e6;

    std::printf("clips: %d\n", kClips);
    std::printf("rows_shown: %d\n", window.grid()->model()->rowCount());
    std::printf("open_ms: %.1f\n", openMs);
    std::printf("scroll_ms: %.1f\n", scrolledMs - openMs);
    std::printf("pictures_loaded: %d\n", loads);
    std::printf("max_block_ms: %.1f\n", meter.longest().wall / 1e6);
    std::printf("max_block_fling_ms: %.1f\n", flingBlockMs);
    std::printf("max_block_paging_ms: %.1f\n", pagingBlockMs);
    std::printf("max_busy_ms: %.1f\n", meter.longest().busy / 1e6);
    std::printf("max_runq_ms: %.1f\n", meter.longest().waiting / 1e6);
    std::printf("load_average: %.1f\n", loadAverage());
    window.close();
    QThreadPool::globalInstance()->waitForDone();
    ThumbnailCache::pool().waitForDone();
    return 0;
}
