// Library figures on this machine.
//
// save_seconds: saving the newest 30 s of a 1920x1080 60 fps buffer (a fragmented MP4 like a
//   snapshot, made once with the ffmpeg tool): the snapshot join (a byte copy of the buffer),
//   probe, pass-through range copy, probe of the clip and the library entry. Median of 3.
// ffmpeg_copy_seconds: the ffmpeg tool cutting the same range of the same file with
//   "-ss/-to -c copy -movflags +faststart". Median of 3.
// save_ratio: save_seconds / ffmpeg_copy_seconds (target <= 1.2).
// reload_seconds: reload() of 10,000 clip files in 100 game folders, every one indexed
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
#include <QSaveFile>
#include <QTemporaryDir>
#include <QUuid>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

using namespace vantel;

namespace {

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

void benchSave(const QString& dir) {
    const QString buffer = makeBuffer(dir);
    const media::MediaInfo info = media::probeMedia(buffer.toStdString());
    const double end = info.videoEnd;
    const double start = std::max(info.videoStart, end - 30.0);
    Library library({[dir] { return dir + "/Clips"; }, dir + "/support"});
    const Clips::SnapshotSource source = snapshotOf(buffer);

    std::vector<double> save, ffmpeg;
    for (int i = 0; i < 3; ++i) {
        save.push_back(timed([&] {
            Clips::saveClip(source, GameTarget{"Bench " + std::to_string(i), 0, {}}, 30, library);
        }));
        const std::string out = (dir + "/ffmpeg.mp4").toStdString();
        ffmpeg.push_back(timed([&] {
            sh("ffmpeg -nostdin -y -v error -ss " + std::to_string(start) + " -to " +
               std::to_string(end) + " -i '" + buffer.toStdString() +
               "' -map 0 -c copy -movflags +faststart '" + out + "'");
        }));
    }
    std::printf("save_seconds: %.3f\n", median(save));
    std::printf("ffmpeg_copy_seconds: %.3f\n", median(ffmpeg));
    std::printf("save_ratio: %.2f\n", median(save) / median(ffmpeg));
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
        reload.push_back(timed([&] { library.reload(); }));
    QCoreApplication::sendPostedEvents();
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
    benchSave(dir.path());
    benchReload(dir.path());
    benchExport(dir.path());
    return 0;
}
