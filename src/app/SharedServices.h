#pragma once

// Joins the shared services that must not know each other. The engine never reads the settings
// store: the capture controller asks a provider for its options at every start, and the game
// detector asks one for the user's extra games at every test and rescans as soon as the list is
// written. Wiring them here keeps the engine below the application.
//
// Thread: main thread, once, before recording starts.

namespace vantel {

class Capture;
class GameDetector;
class Settings;

class SharedServices {
public:
    // Wires the given instances; the connections live as long as the detector.
    static void wire(Settings& settings, Capture& capture, GameDetector& detector);
    // Wires the process-wide shared instances, and the library's messages to the toast.
    static void wireShared();
};

} // namespace vantel
