#pragma once

// The asking end of the instance protocol (InstanceProtocol.h), for the command line: sends one
// request to the running program and waits for its reply, blocking (there is no event loop yet).
// It waits as long as the program keeps sending lines (progress or its heartbeat), so a long
// command is never taken for a program that is not there.
//
// Threads: the calling thread; needs a QCoreApplication.

#include "InstanceProtocol.h"

#include <functional>
#include <optional>

namespace vantel::InstanceClient {

// The longest pause between two lines of the program before the client gives up.
inline constexpr int kQuietMs = 5 * instance::kHeartbeatMs;

struct Answer {
    enum class Kind {
        replied,    // `reply` holds the program's reply
        notRunning, // nothing accepted the connection
        silent,     // connected, then nothing came for `quietMs`
        cutOff,     // connected, then the connection ended without a reply
    };
    Kind kind = Kind::notRunning;
    instance::Reply reply;
};

// Sends `request` to the program at `socketPath`; every non-empty progress text goes to
// `progress` as it arrives.
Answer ask(const QString& socketPath, const instance::Request& request, int quietMs = kQuietMs,
           const std::function<void(const QString&)>& progress = {});

// ask() without progress: the reply, or nothing when there was none.
std::optional<instance::Reply> send(const QString& socketPath, const instance::Request& request,
                                    int quietMs = kQuietMs);

// Whether an instance accepts connections at `socketPath`.
bool reachable(const QString& socketPath);

// What the command line prints on standard error when there was no reply.
QString failureText(Answer::Kind kind);

} // namespace vantel::InstanceClient
