#pragma once

// The two ways the program runs: as the one tray instance of the user, or as a short-lived
// command that asks that instance something. main() picks one.

#include "CommandLine.h"
#include "ProgramHooks.h"

namespace vantel {

// The tray program, in the process that holds the instance lock, with the backends the
// environment forces (BackendOverrides) and the test build's hooks. Returns the exit status.
int runInstance(int& argc, char** argv, const Invocation& invocation, const ProgramHooks& hooks);

// Sends the invocation's request to the running instance and prints its reply. Returns the exit
// status: 0 on success, 1 when the instance reported a failure or none runs.
int runCommand(const Invocation& invocation);

} // namespace vantel
