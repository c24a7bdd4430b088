#pragma once

// The whole of the program's main(): the command line, then the tray instance or a command to
// it. The installed program passes no hooks; its test build passes its own (ProgramHooks.h).
// The application's version is set before the call (QCoreApplication::setApplicationVersion).

#include "ProgramHooks.h"

namespace vantel {

int startProgram(int argc, char** argv, const ProgramHooks& hooks);

} // namespace vantel
