#pragma once

// Media fixtures of the clip tests: small files made with the ffmpeg command-line tool, and a
// stand-in for the replay buffer that hands out copies of a fragmented MP4 as snapshots.

#include "LibraryTestSupport.h"
#include "common/Shell.h"
#include "library/Clips.h"

#include <QUuid>
#include <array>
#include <cstdio>
#include <string>

namespace vantel::test {

inline std::string probe(const QString& file, const std::string& entries,
                         const std::string& select = "") {
    return run("ffprobe -v error " + select + " -show_entries " + entries + " -of csv=p=0 '" +
               file.toStdString() + "'");
}

// A fragmented MP4 shaped like a buffer snapshot: 160x90 H.264 at 30 fps with a key frame
// every second, `audioTracks` AAC tracks, `seconds` long.
inline QString makeFragmented(const QString& path, int seconds, int audioTracks) {
    std::string inputs = "-f lavfi -i testsrc=size=160x90:rate=30 ";
    std::string maps = "-map 0:v ";
    for (int i = 0; i < audioTracks; ++i) {
        inputs += "-f lavfi -i sine=frequency=" + std::to_string(440 * (i + 1)) + " ";
        maps += "-map " + std::to_string(i + 1) + ":a ";
    }
    run("ffmpeg -nostdin -y -v error " + inputs + maps + "-t " + std::to_string(seconds) +
        " -c:v libx264 -preset ultrafast -g 30 -pix_fmt yuv420p -c:a aac -ar 48000 "
        "-movflags frag_keyframe+empty_moov+default_base_moof '" +
        path.toStdString() + "'");
    return path;
}

// Every call copies `fixture` to a fresh "snap-<uuid>.mp4" in the temporary folder, as the
// buffer does.
inline Clips::SnapshotSource fakeBuffer(const QString& fixture, int width = 160, int height = 90) {
    Clips::SnapshotSource source;
    source.width = width;
    source.height = height;
    source.snapshot = [fixture](double, double) {
        QString url = QDir::temp().filePath(
            "snap-" + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() + ".mp4");
        QFile::copy(fixture, url);
        return ReplayBuffer::Snapshot{url.toStdString(), 0.0, 0.0};
    };
    return source;
}

inline QStringList leftoverSnapshots() {
    return QDir::temp().entryList({"snap-*"}, QDir::Files | QDir::Hidden);
}

inline double videoLength(const QString& file) {
    // Presented length: the container's duration minus its start, as ffprobe reports them.
    std::string out = probe(file, "format=start_time,duration");
    double start = 0, duration = 0;
    std::sscanf(out.c_str(), "%lf,%lf", &start, &duration);
    return duration - start;
}

} // namespace vantel::test
