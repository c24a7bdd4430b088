#pragma once

// Screen and sound capture behind one small interface. A stream grabs one monitor at a fixed
// frame interval, converted and scaled to the encoder's input, and the system sound (the default
// sink's monitor) and optionally the microphone (the default source), all stamped on one
// monotonic clock (seconds of CLOCK_MONOTONIC) and all delivered on one serial thread named
// "record.capture".

#include "media/MediaSample.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace vantel::platform {

// The user, or the desktop on the user's behalf, did not let this program record the screen.
class PermissionDenied : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Where a backend keeps what the user allowed across runs (the screen-cast portal's restore
// token). Both functions may be called from any thread, but never at the same time.
struct PermissionStore {
    std::function<std::string()> load;
    std::function<void(const std::string&)> save;
};

struct CaptureDisplay {
    uint32_t id = 0;    // RandR output id; on Wayland the one monitor the portal shares
    int x = 0, y = 0;   // root-relative position, pixels
    int width = 0;      // pixels
    int height = 0;     // pixels
    double scale = 1.0; // points to pixels; 1 on X11
};

struct StreamConfig {
    CaptureDisplay display;
    int width = 0;  // output size, even
    int height = 0; // output size, even
    int fps = 60;
    bool showCursor = false;
    bool captureMic = false;
};

enum class FrameStatus {
    complete = 0,
    idle = 1,
    blank = 2,
    suspended = 3,
    started = 4,
    stopped = 5
};

// Receives the samples of one stream. Every call comes on the stream's "record.capture" thread,
// never two at once.
class SampleHandler {
public:
    virtual ~SampleHandler() = default;
    virtual void onVideo(const media::VideoFrame& frame, FrameStatus status) = 0;
    virtual void onAudio(const media::AudioChunk& chunk, bool fromMic) = 0;
    // The stream stopped by itself; `error` says why. Called on any thread.
    virtual void onStreamStopped(const std::string& error) = 0;
};

class CaptureStream {
public:
    virtual ~CaptureStream() = default;
    // Starts delivering; throws std::runtime_error with a readable message on failure.
    virtual void start() = 0;
    // Stops delivering and joins the sample thread; after it returns no handler call is running
    // or will come. Safe to call twice. Never call it from a handler callback.
    virtual void stop() = 0;
    // Frame ticks skipped since start because grabbing fell behind the frame interval.
    virtual uint64_t skippedFrames() const { return 0; }
};

// Every member may be called from any thread; calls may overlap.
class CaptureBackend {
public:
    virtual ~CaptureBackend() = default;
    // Whether the screen can be read without asking the user: on X11 whether the display can be
    // opened and read; on Wayland whether a choice the user made is kept and the portal answers.
    virtual bool hasPermission() = 0;
    // Asks the user where the desktop has a dialog for it (Wayland's screen-cast portal) and
    // keeps the answer; blocks until the user answered. Elsewhere it only tells. Returns
    // hasPermission() afterwards.
    virtual bool requestPermission() { return hasPermission(); }
    // Where the answer is kept across runs; by default only in memory.
    virtual void setPermissionStore(PermissionStore) {}
    // Throws std::runtime_error when the display server cannot be asked, PermissionDenied when
    // the user has to be asked first.
    virtual std::vector<CaptureDisplay> displays() = 0;
    // Gives up what displays() holds ready for the next createStream() (the screen cast on
    // Wayland), because no stream follows: the start failed in between. Harmless otherwise.
    virtual void releaseDisplays() {}
    virtual std::optional<uint32_t> mainDisplay() = 0;
    // The handler must outlive the stream.
    virtual std::unique_ptr<CaptureStream> createStream(const StreamConfig& config,
                                                        SampleHandler& handler) = 0;
};

// Which capture backend to make: one by name, or `automatic`, the one the session calls for.
enum class CaptureChoice { automatic, x11, wayland, null };

// A named choice makes that backend. `automatic`: a Wayland session (WAYLAND_DISPLAY, or
// XDG_SESSION_TYPE=wayland) records through the screen-cast portal, even where Xwayland offers an
// X display (its root window shows only X clients); else X11, or null when there is no X display.
std::unique_ptr<CaptureBackend>
createCaptureBackend(CaptureChoice choice = CaptureChoice::automatic);

} // namespace vantel::platform
