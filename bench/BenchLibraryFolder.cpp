// The library window while the clip folder changes to one of 200,000 files and a clip of it is
// then shared and unshared, on the session's X display (run it inside tests/e2e/session.sh).
//
// files: clip files in the new folder (empty files in 100 game folders, all indexed).
// change_ms: from "Change…" (the new folder setting and Library::reload()) until the window
//   grid shows every clip of the new folder.
// find_ms: the find tool listing the same folder's clip files; change_ratio = change_ms / find_ms.
// max_block_change_ms: the longest gap between two ticks of a 5 ms timer on the main thread
//   from the change until the window lists the new folder. Target: at most 50.
// share_ms, max_block_share_ms: the same for the last step of a share (Library::update storing
//   the link, on the main thread as the share does) until the clip's card has its link;
//   unshare_ms, max_block_unshare_ms for taking the link back.
// max_busy_ms, max_runq_ms, load_average: as in bench-library-window.

#include "BlockMeter.h"
#include "library/IndexFile.h"
#include "library/Library.h"
#include "settings/Settings.h"
#include "ui/ClipGrid.h"
#include "ui/LibraryWindow.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

using namespace vantel;
using vantel::bench::BlockMeter;

namespace {

constexpr int kFiles = 200'000;
constexpr int kGames = 100;
constexpr int kSmall = 20;

void privateHome(const QString& home) {
    for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"})
        qputenv(name, (home + u'/' + QString::fromLatin1(name)).toUtf8());
}

ClipMeta metaOf(const QString& game, int i, const QDateTime& now) {
    ClipMeta meta;
    meta.title = QStringLiteral("%1 clip %2").arg(game).arg(i);
    meta.game = game;
    meta.created = ClipMeta::wholeSeconds(now.addSecs(-i));
    meta.duration = 30;
    meta.width = 1920;
    meta.height = 1080;
    return meta;
}

// `count` empty clip files below `folder`, each with an index entry under a key of its own.
void makeFolder(const QString& folder, const QString& prefix, int count,
                QHash<QString, ClipMeta>& index) {
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (int game = 0; game < std::min(count, kGames); ++game)
        QDir().mkpath(folder + QStringLiteral("/%1 %2").arg(prefix).arg(game));
    for (int i = 0; i < count; ++i) {
        const QString game = QStringLiteral("%1 %2").arg(prefix).arg(i % kGames);
        const QString key = QStringLiteral("%1/%2 %3.mp4").arg(game, prefix).arg(i);
        const int fd = ::open((folder + u'/' + key).toUtf8().constData(), O_CREAT | O_WRONLY, 0644);
        if (fd >= 0)
            ::close(fd);
        index.insert(key, metaOf(game, i, now));
    }
}

double loadAverage() {
    double load[1] = {0};
    return getloadavg(load, 1) == 1 ? load[0] : -1;
}

// Serves the event loop, sleeping while there is nothing to do, until `done` holds.
double msUntil(const std::function<bool()>& done, int limitMs) {
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(1);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (done() || clock.elapsed() > limitMs)
            loop.quit();
    });
    poll.start();
    if (!done())
        loop.exec();
    return clock.nsecsElapsed() / 1e6;
}

double findMs(const QString& folder) {
    QElapsedTimer clock;
    clock.start();
    const std::string command =
        "find '" + folder.toStdString() + "' -name '*.mp4' -not -name '.*' | wc -l >/dev/null";
    if (std::system(command.c_str()) != 0)
        std::fprintf(stderr, "find failed\n");
    return clock.nsecsElapsed() / 1e6;
}

} // namespace

int main(int argc, char** argv) {
    QTemporaryDir home;
    privateHome(home.path());
    QApplication app(argc, argv);
    const QString small = home.path() + "/Clips";
    const QString big = home.path() + "/Big";
    std::fprintf(stderr, "making %d clip files...\n", kFiles);
    QHash<QString, ClipMeta> index;
    makeFolder(small, QStringLiteral("Small"), kSmall, index);
    makeFolder(big, QStringLiteral("Big"), kFiles, index);
    QDir().mkpath(home.path() + "/support");
    QFile file(home.path() + "/support/library.json");
    if (file.open(QIODevice::WriteOnly))
        file.write(encodeIndex(index));
    file.close();

    auto folder = std::make_shared<QString>(small);
    Library library({[folder] { return *folder; }, home.path() + "/support"});
    msUntil([&] { return library.clips().size() == kSmall; }, 60000);
    LibraryWindow::Services services{Settings::shared(), library};
    services.reveal = [](const QString&) {
    };
    LibraryWindow window(services);
    window.show();
    msUntil([] { return false; }, 1000);

    // The newest clip of the big folder is the first row: its link is checked there.
    std::optional<QString> firstLink;
    bool firstSeen = false;
    QObject::connect(&library, &Library::clipsChanged, [&](const QList<Clip>& clips) {
        firstSeen = !clips.isEmpty() && clips[0].url.startsWith(big);
        firstLink = clips.isEmpty() ? std::nullopt : clips[0].meta.shareURL;
    });

    BlockMeter meter;
    meter.start();
    *folder = big; // what Settings::setFolder and the settings window's reload do
    library.reload();
    const double changeMs =
        msUntil([&] { return window.grid()->model()->rowCount() == kFiles; }, 300000);
    double changeBusyMs = 0, shareBusyMs = 0, unshareBusyMs = 0;
    const double changeBlockMs = meter.phaseMs(&changeBusyMs);
    const QString first = library.clips().value(0).url;

    QElapsedTimer call;
    call.start();
    library.update(first, [](ClipMeta& meta) {
        meta.shareID = QStringLiteral("id-1");
        meta.shareURL = QStringLiteral("https://clips.example/c/1");
    });
    const double updateCallMs = call.nsecsElapsed() / 1e6;
    const double shareMs = msUntil([&] { return firstLink.has_value(); }, 300000);
    const double shareBlockMs = meter.phaseMs(&shareBusyMs);
    library.update(first, [](ClipMeta& meta) {
        meta.shareID.reset();
        meta.shareURL.reset();
    });
    const double unshareMs = msUntil([&] { return !firstLink.has_value(); }, 300000);
    const double unshareBlockMs = meter.phaseMs(&unshareBusyMs);
    const double find = findMs(big);

    std::printf("files: %d\n", kFiles);
    std::printf("rows_shown: %d\n", window.grid()->model()->rowCount());
    std::printf("first_row_is_new_folder: %d\n", firstSeen ? 1 : 0);
    std::printf("change_ms: %.1f\n", changeMs);
    std::printf("find_ms: %.1f\n", find);
    std::printf("change_ratio: %.2f\n", changeMs / find);
    std::printf("max_block_change_ms: %.1f\n", changeBlockMs);
    std::printf("max_busy_change_ms: %.1f\n", changeBusyMs);
    std::printf("share_ms: %.1f\n", shareMs);
    std::printf("max_block_share_ms: %.1f\n", shareBlockMs);
    std::printf("update_call_ms: %.1f\n", updateCallMs);
    std::printf("max_busy_share_ms: %.1f\n", shareBusyMs);
    std::printf("unshare_ms: %.1f\n", unshareMs);
    std::printf("max_block_unshare_ms: %.1f\n", unshareBlockMs);
    std::printf("max_busy_unshare_ms: %.1f\n", unshareBusyMs);
    std::printf("max_busy_ms: %.1f\n", meter.longest().busy / 1e6);
    std::printf("max_runq_ms: %.1f\n", meter.longest().waiting / 1e6);
    std::printf("load_average: %.1f\n", loadAverage());
    window.close();
    QThreadPool::globalInstance()->waitForDone();
    return 0;
}
