#include "Clips.h"

namespace vantel::Clips {

SnapshotSource SnapshotSource::of(std::shared_ptr<ReplayBuffer> buffer) {
    SnapshotSource source;
    source.width = buffer->width();
    source.height = buffer->height();
    source.snapshot = [buffer](double seconds) {
        return buffer->snapshot(seconds);
    };
    return source;
}

} // namespace vantel::Clips
