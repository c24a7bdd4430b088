#pragma once

// The asking end of the instance protocol (InstanceProtocol.h), for the command line: sends one
// request to the running program and waits for its reply, blocking (there is no event loop yet).
//
// Threads: the calling thread; needs a QCoreApplication.

#include "InstanceProtocol.h"

#include <optional>

namespace vantel::InstanceClient {

// Nothing when no instance answers at `socketPath` (none runs, or it did not reply within
// `waitMs`).
std::optional<instance::Reply> send(const QString& socketPath, const instance::Request& request,
                                    int waitMs);

// Whether an instance accepts connections at `socketPath`.
bool reachable(const QString& socketPath);

} // namespace vantel::InstanceClient
