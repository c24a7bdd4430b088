#pragma once

// Width, height and duration of a video file, as the sharing service is told them: the first
// video track's coded size (no rotation applied) and the file's duration. Never fails: whatever
// cannot be read is 0, and a file without video is 0 x 0.

#include <QCoro/QCoroTask>
#include <QString>
#include <cstdint>

namespace vantel {

struct VideoFacts {
    int64_t width = 0;
    int64_t height = 0;
    double duration = 0.0;

    // On the calling thread.
    static VideoFacts read(const QString& path);
    // On the Qt thread pool; resumes on the awaiting thread.
    static QCoro::Task<VideoFacts> load(QString path);
};

} // namespace vantel
