#pragma once

// How a second `vantel-record` talks to the running one (one instance per user).
//
// Transport: a local (Unix) socket "instance.sock" in the runtime folder (see runtimeFolder()),
// served by the running program. One request per connection:
//   request:  one line of compact JSON, {"command": "save", "arguments": ["5"]}, ended by "\n";
//   progress: while the request runs, any number of lines {"progress": "Uploading 40%"}; the
//             server sends one at least every kHeartbeatMs, with an empty text when there is
//             nothing new to tell, so a client can tell a long command from a stuck program;
//   reply:    one line of compact JSON, {"ok": true, "out": ["…"], "err": ["…"]}, ended by "\n",
//             then the server closes the connection.
// The client prints progress texts and "err" on standard error, "out" on standard output, line by
// line, and exits 0 when "ok" is true, else 1. It waits as long as lines keep coming: a command
// takes the time its work takes. Requests longer than 64 KiB are refused.
//
// Commands of this version (new ones are added by registering a handler with InstanceServer):
//   "open"                the clips window opens or comes to the front; no output
//   "save" [SECONDS]      saves a clip; out: the new clip's path; err: why not, or that the clip
//                         is being uploaded (automatic sharing; the toast tells the link)
//   "status"              out: the status line, the "… s ready …" line while a buffer exists,
//                         and the shortcut problem while the shortcut is not held
//   "url" URL             hands a "vantelrecord:" URL to the program (sign-in)
//   "sign-in"             starts the browser sign-in; no output
//   "sign-out"            signs out; no output
//   "share" FILE          shares a library clip; progress: "Preparing N%", "Uploading N%";
//                         out: its link; err: why not
//
// Who runs: the process that holds the lock "instance.lock" in the runtime folder is the
// instance; the lock dies with its process, so a crashed instance never blocks the next one.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>

namespace vantel::instance {

inline constexpr qsizetype kMaxLine = 64 * 1024;
// The longest the server stays silent while it works on a request.
inline constexpr int kHeartbeatMs = 2000;

namespace command {
inline constexpr char open[] = "open";
inline constexpr char save[] = "save";
inline constexpr char status[] = "status";
inline constexpr char url[] = "url";
inline constexpr char signIn[] = "sign-in";
inline constexpr char signOut[] = "sign-out";
inline constexpr char share[] = "share";
} // namespace command

struct Request {
    QString command;
    QStringList arguments;

    // One line, "\n" included.
    QByteArray encode() const;
    // Nothing when the line is not a request.
    static std::optional<Request> decode(const QByteArray& line);
};

struct Reply {
    bool ok = true;
    QStringList out;
    QStringList err;

    static Reply success(QStringList out = {}) { return {true, std::move(out), {}}; }
    static Reply failure(QStringList err) { return {false, {}, std::move(err)}; }

    QByteArray encode() const;
    static std::optional<Reply> decode(const QByteArray& line);
};

// A progress line; an empty text only says the request is still being worked on.
struct Progress {
    QString text;

    QByteArray encode() const;
    // Nothing when the line is not a progress line.
    static std::optional<Progress> decode(const QByteArray& line);
};

// $XDG_RUNTIME_DIR/vantel-record when the variable names a folder, else
// <temporary folder>/vantel-record-<uid>; created with mode 0700.
QString runtimeFolder();
QString socketPath();
QString lockPath();

} // namespace vantel::instance
