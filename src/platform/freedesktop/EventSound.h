#pragma once

// Short event sounds from the freedesktop sound theme ("screen-capture" when a clip is saved),
// played through libcanberra on the desktop's sound server. A sound is a nicety: when there is
// no sound server, theme or event, nothing plays and nothing is reported to the user.
//
// Thread: any. The one libcanberra context is made on first use and lives for the process;
// libcanberra guards it with its own lock and plays asynchronously.

#include <functional>

namespace vantel::platform {

class EventSound {
public:
    EventSound() = delete;

    // Starts the event's sound and returns at once. `done`, when given, is called once the
    // sound has ended or failed to start (true: it played to the end), on libcanberra's thread
    // or, when it cannot start, before play() returns.
    static void play(const char* eventId, std::function<void(bool played)> done = {});
};

} // namespace vantel::platform
