#pragma once

// What a test build of the program adds to it: the end-to-end tests start the program with hooks
// that log its toasts, map its windows' controls and point its backends at stand-ins. The
// installed program runs with none (every member empty), so it carries no test-only code.
//
// Threads: every hook runs on the main thread.

#include <QString>
#include <functional>

class QWidget;

namespace vantel {

struct BackendOverrides;

struct ProgramHooks {
    using ToastSeen = std::function<void(const QString& title, const QString& detail, bool ok)>;

    // Adjusts the backend choices read from the environment before anything is made from them.
    std::function<void(BackendOverrides& overrides)> adjustBackends;
    // Every toast the controller shows, as it shows it.
    ToastSeen toastShown;
    // Every window content the program makes, with its id ("library", "settings", ...), once
    // made.
    std::function<void(const QString& id, QWidget* content)> windowMade;
};

} // namespace vantel
