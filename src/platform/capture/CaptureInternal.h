#pragma once

// For the capture backends and their factory table only; callers include CaptureBackend.h.
// Beside this header sit the other pieces the X11 and Wayland backends share: SampleThread (the
// "record.capture" thread, its frame pacing and sound queue) and ScreenConverter (screen
// pictures to the encoder's frames). Declared here: the sound source, which every backend
// records the same way whatever the screen comes from.

#include "media/MediaSample.h"

#include <functional>
#include <memory>
#include <string>

namespace vantel::platform {

// The system sound (the monitor of the default sink) and optionally the microphone (the default
// source) as 48 kHz float chunks stamped on CLOCK_MONOTONIC: PulseAudioSource, or silence in a
// build without PulseAudio.
//
// Threads: start() and stop() from the owner's thread; chunks and the error come on the
// source's own thread, and the owner passes them on to its own.
class SoundSource {
public:
    using ChunkFn = std::function<void(media::AudioChunk&& chunk, bool fromMic)>;
    // Called at most once, when the server connection or a stream fails while running.
    using ErrorFn = std::function<void(const std::string& message)>;

    virtual ~SoundSource() = default;
    // Connects and starts recording; throws std::runtime_error with a readable message.
    virtual void start() = 0;
    // Stops recording; no callback runs after it returns. Safe to call twice.
    virtual void stop() = 0;
};

// A sound source of the sound backend this build has, not started yet.
std::unique_ptr<SoundSource> createSoundSource(bool withMic, SoundSource::ChunkFn onChunk,
                                               SoundSource::ErrorFn onError);

} // namespace vantel::platform
