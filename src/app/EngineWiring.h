#pragma once

// Joins the program's services that must not know each other. The engine never reads the
// settings store: the capture controller asks a provider for its options at every start and
// follows the game detector's current game, and the game detector asks one for the user's extra
// games at every test and rescans as soon as the list is written. Wiring them here keeps the
// engine below the application.
//
// Thread: main thread, once, before recording starts.

namespace vantel {

class CaptureController;
class GameDetector;
class Settings;

class EngineWiring {
public:
    // Wires the given instances; the connections live as long as the detector, which must
    // outlive the capture controller's use of it.
    static void wire(Settings& settings, CaptureController& capture, GameDetector& detector);
};

} // namespace vantel
