#pragma once

// Which processes are connected to a listening unix socket, such as the Wayland compositor's:
// the kernel's socket diagnostics (NETLINK_SOCK_DIAG) name the client end of every connection
// the socket accepted, and the processes' open files (/proc/PID/fd) say who holds those ends.
// A Wayland desktop keeps no list of windows that another program may read; a connection to the
// compositor is the nearest fact that tells a program with windows from one without.
//
// Thread: any; nothing is shared.

#include <cstdint>
#include <filesystem>
#include <set>
#include <vector>

namespace vantel::platform {

class SocketClients {
public:
    // The inode numbers of the client ends connected to the socket bound at `path`. Empty when
    // nothing is connected, the path is no socket, or the diagnostics cannot be read.
    static std::set<uint64_t> peers(const std::filesystem::path& path);

    // The processes, in ascending id order, that hold one of `sockets` open. Processes whose
    // open files may not be read (another user's) are left out. `procRoot` replaces /proc in
    // tests.
    static std::vector<int32_t> holders(const std::set<uint64_t>& sockets,
                                        const std::filesystem::path& procRoot = "/proc");
};

} // namespace vantel::platform
