#include "Clips.h"

namespace vantel::Clips {

SnapshotSource SnapshotSource::of(std::shared_ptr<ReplayBuffer> buffer, media::CopyMethod copy) {
    SnapshotSource source;
    source.copy = copy;
    source.width = buffer->width();
    source.height = buffer->height();
    source.snapshot = [buffer](double seconds, double until) {
        return buffer->snapshot(seconds, until);
    };
    source.segments = [buffer](double seconds, double until) {
        return buffer->chooseSegments(seconds, until);
    };
    return source;
}

} // namespace vantel::Clips
