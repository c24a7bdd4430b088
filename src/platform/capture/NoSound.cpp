// A build without PulseAudio records the screen alone: the source starts, stops and stays
// silent.

#include "platform/capture/CaptureInternal.h"

namespace vantel::platform {

namespace {

class Silence : public SoundSource {
public:
    void start() override {}
    void stop() override {}
};

} // namespace

std::unique_ptr<SoundSource> createSoundSource(bool, SoundSource::ChunkFn, SoundSource::ErrorFn) {
    return std::make_unique<Silence>();
}

} // namespace vantel::platform
