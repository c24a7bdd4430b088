// Library figures on this machine.
//
// The buffer: 32 s of 1920x1080 at 60 fps (H.264, two AAC tracks) made once with the ffmpeg tool
// as fragmented MP4 with a fragment per second, split like the replay buffer keeps it: the
// initialisation segment in memory and one file per fragment.
// save_seconds: saving the newest 30 s straight from the segment files, as the program saves:
//   the clip written from the segments' own index with the media copied in the kernel, probe of
//   the clip and the library entry. Median of 3.
// ffmpeg_copy_seconds: the ffmpeg tool cutting the same range of the joined segments with
//   "-ss/-to -c copy -movflags +faststart". Median of 3.
// save_ratio: save_seconds / ffmpeg_copy_seconds (target <= 0.5).
// bytes_written_ratio: bytes the direct save made this process write (write_bytes of
//   /proc/self/io) over the clip's size (target <= 1.05).
// snapshot_save_seconds, snapshot_save_ratio: the same save through a snapshot file (the joined
//   segments) and the pass-through copy, as trims and sources without segments still go.
// save300_seconds, ffmpeg_copy300_seconds, save300_ratio: the same for the whole of a 300 s
//   buffer (the 32 s looped with the ffmpeg tool). Best of 3 (target <= 0.5).
// reload_seconds: reload() of 10,000 clip files in 100 game folders, every one indexed, until
//   the new list is published on the main thread
//   (target < 0.5). Median of 3.
// export_equal_s_per_min: seconds an export with default options (video copied, both audio
//   tracks mixed into one AAC track) takes per minute of a 120 s 1920x1080 clip whose game
//   (pink noise) and microphone (a tone) tracks both run the whole length. Median of 3.
// export_unequal_s_per_min: the same for a clip whose microphone track lasts only 2 s
//   (target: at most 1.2 x export_equal_s_per_min, so the time grows with the clip alone).
// ffmpeg_export_s_per_min: the ffmpeg tool doing the equal export ("-c:v copy", amix, AAC
//   256 kb/s), for comparison.

#include "library/Clips.h"
#include "library/Library.h"
#include "media/Exporter.h"
#include "media/MediaProbe.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QUuid>
#include <QtEndian>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

using namespace vantel;

namespace {

// Serves the event loop until the library has published what was asked of it.
void settle(Library& library) {
    QEventLoop loop;
    bool done = false;
    auto waiting = [&]() -> QCoro::Task<> {
        co_await library.settled();
        done = true;
        loop.quit();
    };
    auto task = waiting();
    if (!done)
        loop.exec();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double timed(const std::function<void()>& work) {
    QElapsedTimer timer;
    timer.start();
    work();
    return timer.nsecsElapsed() / 1e9;
}

bool sh(const std::string& command) {
    return std::system(command.c_str()) == 0;
}

QString makeBuffer(const QString& dir) {
    const QString path = dir + "/buffer.mp4";
    std::fprintf(stderr, "making a 32 s 1080p60 buffer with ffmpeg...\n");
    sh("ffmpeg -nostdin -y -v error -f lavfi -i testsrc2=size=1920x1080:rate=60 "
       "-f lavfi -i sine=frequency=440:sample_rate=48000 "
       "-f lavfi -i sine=frequency=880:sample_rate=48000 -map 0 -map 1 -map 2 -t 32 "
       "-c:v libx264 -preset ultrafast -g 60 -pix_fmt yuv420p -b:v 20M -c:a aac -b:a 160k "
       "-movflags frag_keyframe+empty_moov+default_base_moof '" +
       path.toStdString() + "'");
    return path;
}

// Joins like the buffer's snapshot: the whole buffer copied byte for byte to a "snap-" file.
Clips::SnapshotSource snapshotOf(const QString& buffer) {
    Clips::SnapshotSource source;
    source.width = 1920;
    source.height = 1080;
    source.snapshot = [buffer](double, double) {
        const QString url =
            QDir::temp().filePath("snap-" + QUuid::createUuid().toString() + ".mp4");
        QFile::copy(buffer, url);
        return ReplayBuffer::Snapshot{url.toStdString(), 0.0, 0.0};
    };
    return source;
}

// The buffer as the replay buffer holds it: init segment in memory, a file per fragment.
ReplayBuffer::SegmentSet splitIntoSegments(const QString& fragmented, const QString& dir) {
    QFile in(fragmented);
    in.open(QIODevice::ReadOnly);
    QDir().mkpath(dir);
    ReplayBuffer::SegmentSet set;
    media::SegmentRun& run = set.runs.emplace_back();
    QByteArray segment;
    while (!in.atEnd()) {
        const QByteArray header = in.peek(8);
        const qint64 size = qFromBigEndian<quint32>(header.constData());
        const QByteArray box = in.read(size);
        if (header.mid(4, 4) == "ftyp" || header.mid(4, 4) == "moov") {
            run.init.insert(run.init.end(), box.begin(), box.end());
            continue;
        }
        segment += box;
        if (header.mid(4, 4) != "mdat")
            continue;
        const QString file =
            dir + QStringLiteral("/%1.m4s").arg(run.files.size(), 8, 10, QChar('0'));
        QFile out(file);
        out.open(QIODevice::WriteOnly);
        out.write(segment);
        run.files.push_back(file.toStdString());
        segment.clear();
    }
    return set;
}

Clips::SnapshotSource segmentsOf(ReplayBuffer::SegmentSet set) {
    Clips::SnapshotSource source;
    source.width = 1920;
    source.height = 1080;
    source.segments = [set](double, double) {
        return set;
    };
    return source;
}

uint64_t writtenBytes() {
    std::ifstream io("/proc/self/io");
    std::string key;
    uint64_t value = 0;
    while (io >> key >> value)
        if (key == "write_bytes:")
            return value;
    return 0;
}

struct CopyRange {
    double start = 0.0;
    double end = 0.0;
};

CopyRange newest(const QString& buffer, double seconds) {
    const media::MediaInfo info = media::probeMedia(buffer.toStdString());
    return {std::max(info.videoStart, info.videoEnd - seconds), info.videoEnd};
}

double ffmpegCopy(const QString& joined, CopyRange range, const QString& out) {
    const double seconds = timed([&] {
        sh("ffmpeg -nostdin -y -v error -ss " + std::to_string(range.start) + " -to " +
           std::to_string(range.end) + " -i '" + joined.toStdString() +
           "' -map 0 -c copy -movflags +faststart '" + out.toStdString() + "'");
    });
    QFile::remove(out);
    return seconds;
}

// Saves `seconds` through `source` into a fresh game folder; the clip is removed afterwards.
double timedSave(const Clips::SnapshotSource& source, double seconds, Library& library,
                 const std::string& game, uint64_t* written = nullptr,
                 uint64_t* clipBytes = nullptr) {
    const uint64_t before = writtenBytes();
    Clip clip;
    const double took = timed([&] {
        clip = Clips::saveClip(source, GameTarget{game, 0, {}}, seconds, library);
    });
    if (written)
        *written = writtenBytes() - before;
    if (clipBytes)
        *clipBytes = uint64_t(QFileInfo(clip.url).size());
    QFile::remove(clip.url);
    return took;
}

void benchSave(const QString& dir) {
    const QString buffer = makeBuffer(dir);
    const ReplayBuffer::SegmentSet segments = splitIntoSegments(buffer, dir + "/segments");
    const CopyRange range = newest(buffer, 30.0);
    Library library({[dir] { return dir + "/Clips"; }, dir + "/support"});
    const Clips::SnapshotSource direct = segmentsOf(segments);
    const Clips::SnapshotSource snapshot = snapshotOf(buffer);

    std::vector<double> save, viaSnapshot, ffmpeg;
    uint64_t written = 0, clipBytes = 0;
    for (int i = 0; i < 3; ++i) {
        const std::string game = "Bench " + std::to_string(i);
        save.push_back(timedSave(direct, 30, library, game, &written, &clipBytes));
        viaSnapshot.push_back(timedSave(snapshot, 30, library, game + " snapshot"));
        ffmpeg.push_back(ffmpegCopy(buffer, range, dir + "/ffmpeg.mp4"));
    }
    std::printf("save_seconds: %.3f\n", median(save));
    std::printf("ffmpeg_copy_seconds: %.3f\n", median(ffmpeg));
    std::printf("save_ratio: %.2f\n", median(save) / median(ffmpeg));
    std::printf("bytes_written_ratio: %.3f\n", double(written) / double(clipBytes));
    std::printf("snapshot_save_seconds: %.3f\n", median(viaSnapshot));
    std::printf("snapshot_save_ratio: %.2f\n", median(viaSnapshot) / median(ffmpeg));
}

void benchSave300(const QString& dir) {
    const QString buffer = dir + "/buffer300.mp4";
    std::fprintf(stderr, "making a 300 s 1080p60 buffer by looping the 32 s one...\n");
    sh("ffmpeg -nostdin -y -v error -stream_loop 9 -i '" + (dir + "/buffer.mp4").toStdString() +
       "' -map 0 -t 300 -c copy -movflags frag_keyframe+empty_moov+default_base_moof '" +
       buffer.toStdString() + "'");
    const ReplayBuffer::SegmentSet segments = splitIntoSegments(buffer, dir + "/segments300");
    const CopyRange range = newest(buffer, 300.0);
    Library library({[dir] { return dir + "/Clips300"; }, dir + "/support300"});
    double save = 1e9, ffmpeg = 1e9;
    for (int i = 0; i < 3; ++i) {
        save = std::min(save,
                        timedSave(segmentsOf(segments), 300, library, "Long " + std::to_string(i)));
        ffmpeg = std::min(ffmpeg, ffmpegCopy(buffer, range, dir + "/ffmpeg300.mp4"));
    }
    std::printf("save300_seconds: %.3f\n", save);
    std::printf("ffmpeg_copy300_seconds: %.3f\n", ffmpeg);
    std::printf("save300_ratio: %.2f\n", save / ffmpeg);
    QFile::remove(buffer);
    QDir(dir + "/segments300").removeRecursively();
}

void benchReload(const QString& dir) {
    const QString folder = dir + "/Many";
    const QString support = dir + "/many-support";
    QDir().mkpath(support);
    QByteArray index = "{";
    for (int game = 0; game < 100; ++game) {
        const QString gameDir = QStringLiteral("Game %1").arg(game);
        QDir().mkpath(folder + "/" + gameDir);
        for (int n = 0; n < 100; ++n) {
            const QString key = gameDir + QStringLiteral("/%1 clip %2.mp4").arg(gameDir).arg(n);
            QFile(folder + "/" + key).open(QIODevice::WriteOnly);
            ClipMeta meta{
                key,  gameDir,      QDateTime::fromSecsSinceEpoch(1700000000 + n, Qt::UTC),
                30.0, 1920,         1080,
                true, std::nullopt, std::nullopt};
            if (index.size() > 1)
                index.append(',');
            appendJsonString(index, key);
            index.append(':');
            meta.appendJson(index);
        }
    }
    index.append('}');
    QSaveFile file(support + "/library.json");
    file.open(QIODevice::WriteOnly);
    file.write(index);
    file.commit();

    Library library({[folder] { return folder; }, support});
    std::vector<double> reload;
    for (int i = 0; i < 3; ++i)
        reload.push_back(timed([&] {
            library.reload();
            settle(library);
        }));
    if (library.clips().size() != 10000)
        std::fprintf(stderr, "listed %lld clips, expected 10000\n",
                     static_cast<long long>(library.clips().size()));
    std::printf("reload_seconds: %.3f\n", median(reload));
}

QString makeExportSource(const QString& dir, const char* name, int micSeconds) {
    const QString path = dir + "/" + name;
    std::fprintf(stderr, "making a 120 s 1080p clip with a %d s microphone track...\n", micSeconds);
    // Game sound is broadband, like a real game's: over a lone pure tone FFmpeg's AAC encoder
    // spends about three times as long per frame as over a mix, which would measure the encoder's
    // taste in signals instead of the mix.
    sh("ffmpeg -nostdin -y -v error -f lavfi -i color=c=0x203040:s=1920x1080:r=30:d=120 "
       "-f lavfi -i anoisesrc=d=120:c=pink:r=48000:a=0.1 "
       "-f lavfi -i sine=frequency=880:sample_rate=48000:duration=" +
       std::to_string(micSeconds) +
       " -map 0 -map 1 -map 2 -c:v libx264 -preset ultrafast -g 60 -pix_fmt yuv420p "
       "-c:a aac -b:a 160k '" +
       path.toStdString() + "'");
    return path;
}

double exportSecondsPerMinute(const QString& source, const QString& target) {
    std::vector<double> runs;
    for (int i = 0; i < 3; ++i)
        runs.push_back(
            timed([&] { media::exportClip(source.toStdString(), target.toStdString(), {}); }));
    return median(runs) / 2.0;
}

void benchExport(const QString& dir) {
    const QString equal = makeExportSource(dir, "equal.mp4", 120);
    const QString unequal = makeExportSource(dir, "unequal.mp4", 2);
    const double equalRate = exportSecondsPerMinute(equal, dir + "/export.mp4");
    const double unequalRate = exportSecondsPerMinute(unequal, dir + "/export.mp4");
    std::vector<double> tool;
    for (int i = 0; i < 3; ++i)
        tool.push_back(timed([&] {
            sh("ffmpeg -nostdin -y -v error -i '" + equal.toStdString() +
               "' -filter_complex '[0:a:0][0:a:1]amix=inputs=2:duration=longest:normalize=0' "
               "-map 0:v -c:v copy -c:a aac -b:a 256k -movflags +faststart '" +
               (dir + "/ffmpeg-export.mp4").toStdString() + "'");
        }));
    std::printf("export_equal_s_per_min: %.3f\n", equalRate);
    std::printf("export_unequal_s_per_min: %.3f\n", unequalRate);
    std::printf("export_unequal_ratio: %.2f\n", unequalRate / equalRate);
    std::printf("ffmpeg_export_s_per_min: %.3f\n", median(tool) / 2.0);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir dir(QDir::temp().filePath("vantel-bench-XXXXXX"));
    if (!dir.isValid())
        return 1;
    // "bench-library save" measures the saves alone.
    const bool savesOnly = argc > 1 && std::string(argv[1]) == "save";
    benchSave(dir.path());
    benchSave300(dir.path());
    if (savesOnly)
        return 0;
    benchReload(dir.path());
    benchExport(dir.path());
    return 0;
}
