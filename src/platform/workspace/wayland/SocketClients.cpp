#include "platform/workspace/wayland/SocketClients.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <linux/sock_diag.h>
#include <linux/unix_diag.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace vantel::platform {

namespace {

constexpr int kEstablished = 1; // TCP_ESTABLISHED, the state of an accepted connection

class Fd {
public:
    explicit Fd(int fd)
        : m_fd(fd) {}
    ~Fd() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

// The bound file of a socket as the kernel reports it: its device in the kernel's own encoding
// (major << 20 | minor) and its inode.
struct BoundFile {
    uint32_t dev = 0;
    uint32_t ino = 0;
};

bool sendDumpRequest(int fd) {
    struct {
        nlmsghdr header;
        unix_diag_req request;
    } message{};
    message.header.nlmsg_len = sizeof message;
    message.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    message.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    message.request.sdiag_family = AF_UNIX;
    message.request.udiag_states = 1u << kEstablished;
    message.request.udiag_show = UDIAG_SHOW_VFS | UDIAG_SHOW_PEER;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    return ::sendto(fd, &message, sizeof message, 0, reinterpret_cast<sockaddr*>(&kernel),
                    sizeof kernel) == ssize_t(sizeof message);
}

// Adds the peer of one accepted connection when its socket is bound to `file`.
void readEntry(const nlmsghdr* header, const BoundFile& file, std::set<uint64_t>& peers) {
    const auto* msg = static_cast<const unix_diag_msg*>(NLMSG_DATA(header));
    int length = int(header->nlmsg_len - NLMSG_LENGTH(sizeof *msg));
    bool bound = false;
    uint32_t peer = 0;
    for (auto* attr = reinterpret_cast<const rtattr*>(msg + 1); RTA_OK(attr, length);
         attr = RTA_NEXT(attr, length)) {
        if (attr->rta_type == UNIX_DIAG_VFS && RTA_PAYLOAD(attr) >= sizeof(unix_diag_vfs)) {
            unix_diag_vfs vfs;
            std::memcpy(&vfs, RTA_DATA(attr), sizeof vfs);
            bound = vfs.udiag_vfs_ino == file.ino && vfs.udiag_vfs_dev == file.dev;
        } else if (attr->rta_type == UNIX_DIAG_PEER && RTA_PAYLOAD(attr) >= sizeof peer) {
            std::memcpy(&peer, RTA_DATA(attr), sizeof peer);
        }
    }
    if (bound && peer != 0)
        peers.insert(peer);
}

// Reads the dump to its end; false on an error from the kernel.
bool readDump(int fd, const BoundFile& file, std::set<uint64_t>& peers) {
    alignas(nlmsghdr) std::array<char, 32768> buffer;
    for (;;) {
        const ssize_t n = ::recv(fd, buffer.data(), buffer.size(), 0);
        if (n <= 0)
            return false;
        int left = int(n);
        for (auto* header = reinterpret_cast<const nlmsghdr*>(buffer.data());
             NLMSG_OK(header, left); header = NLMSG_NEXT(header, left)) {
            if (header->nlmsg_type == NLMSG_DONE)
                return true;
            if (header->nlmsg_type == NLMSG_ERROR)
                return false;
            if (header->nlmsg_type == SOCK_DIAG_BY_FAMILY)
                readEntry(header, file, peers);
        }
    }
}

// "socket:[12345]" -> 12345; 0 for every other link.
uint64_t socketInode(const std::string& link) {
    constexpr std::string_view prefix = "socket:[";
    if (link.size() < prefix.size() + 2 || link.compare(0, prefix.size(), prefix) != 0 ||
        link.back() != ']')
        return 0;
    try {
        return std::stoull(link.substr(prefix.size(), link.size() - prefix.size() - 1));
    } catch (const std::exception&) {
        return 0;
    }
}

bool holdsOne(const fs::path& fdDir, const std::set<uint64_t>& sockets) {
    std::error_code ec;
    for (fs::directory_iterator it(fdDir, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code linkError;
        const fs::path target = fs::read_symlink(it->path(), linkError);
        if (!linkError && sockets.count(socketInode(target.string())))
            return true;
    }
    return false;
}

} // namespace

std::set<uint64_t> SocketClients::peers(const fs::path& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISSOCK(info.st_mode))
        return {};
    const BoundFile file{uint32_t(major(info.st_dev) << 20 | minor(info.st_dev)),
                         uint32_t(info.st_ino)};
    Fd fd(::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG));
    std::set<uint64_t> peers;
    if (fd.get() < 0 || !sendDumpRequest(fd.get()) || !readDump(fd.get(), file, peers))
        return {};
    return peers;
}

std::vector<int32_t> SocketClients::holders(const std::set<uint64_t>& sockets,
                                            const fs::path& procRoot) {
    std::vector<int32_t> pids;
    if (sockets.empty())
        return pids;
    std::error_code ec;
    for (fs::directory_iterator it(procRoot, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.empty() || !std::all_of(name.begin(), name.end(), ::isdigit))
            continue;
        if (holdsOne(it->path() / "fd", sockets))
            pids.push_back(int32_t(std::stol(name)));
    }
    std::sort(pids.begin(), pids.end());
    return pids;
}

} // namespace vantel::platform
