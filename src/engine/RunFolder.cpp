#include "RunFolder.h"

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <pwd.h>
#include <random>
#include <sys/file.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace vantel {

namespace {

[[noreturn]] void throwErrno(const char* what, const fs::path& path) {
    throw fs::filesystem_error(what, path, std::error_code(errno, std::generic_category()));
}

// Creates the lock file and locks it; the descriptor is not inherited by started programs, so
// a helper process cannot keep a dead run's folder alive.
int createLocked(const fs::path& lockPath) {
    const int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        throwErrno("cannot create the run folder's lock", lockPath);
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int saved = errno;
        ::close(fd);
        errno = saved;
        throwErrno("cannot lock the run folder", lockPath);
    }
    return fd;
}

// A folder is stale when its lock file is missing or can be locked now. Its lock is held (by
// this call) while the folder is removed, so two cleaners never race on one folder.
void removeIfStale(const fs::path& folder) {
    std::error_code ignored;
    const fs::path lockPath = folder / RunFolder::lockName;
    const int fd = ::open(lockPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        if (errno == ENOENT)
            fs::remove_all(folder, ignored);
        return;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
        fs::remove_all(folder, ignored);
    ::close(fd);
}

// A folder still being set up is hidden until its lock is taken, which takes microseconds; one
// that stayed hidden for a minute belongs to a process that died in between.
constexpr auto kPendingGrace = std::chrono::minutes(1);

bool isRunFolderName(const fs::directory_entry& entry) {
    const std::string name = entry.path().filename().string();
    if (name.starts_with(RunFolder::namePrefix))
        return true;
    if (!name.starts_with("." + std::string(RunFolder::namePrefix)))
        return false;
    std::error_code ec;
    const auto modified = entry.last_write_time(ec);
    return !ec && fs::file_time_type::clock::now() - modified > kPendingGrace;
}

std::vector<fs::path> runFoldersUnder(const fs::path& root) {
    std::vector<fs::path> found;
    std::error_code ec;
    fs::directory_iterator it(root, ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        if (!isRunFolderName(*it))
            continue;
        std::error_code typeError;
        if (it->is_directory(typeError) && !it->is_symlink(typeError))
            found.push_back(it->path());
    }
    return found;
}

fs::path homeFolder() {
    const char* home = std::getenv("HOME");
    if (home && *home)
        return home;
    if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir)
        return entry->pw_dir;
    return fs::temp_directory_path();
}

} // namespace

RunFolder::RunFolder(const fs::path& root) {
    fs::create_directories(root);
    const std::string name = std::string(namePrefix) + makeUuidString();
    const fs::path pending = root / ("." + name);
    fs::create_directory(pending);
    try {
        m_lockFd = createLocked(pending / lockName);
        fs::rename(pending, root / name);
    } catch (...) {
        if (m_lockFd >= 0)
            ::close(m_lockFd);
        std::error_code ignored;
        fs::remove_all(pending, ignored);
        throw;
    }
    m_path = root / name;
}

RunFolder::~RunFolder() {
    if (m_lockFd >= 0)
        ::close(m_lockFd);
}

void RunFolder::remove() noexcept {
    std::error_code ignored;
    fs::remove_all(m_path, ignored);
}

void RunFolder::removeStale(const fs::path& root) noexcept {
    try {
        for (const fs::path& folder : runFoldersUnder(root))
            removeIfStale(folder);
    } catch (...) {
        // Only allocation can throw here; cleanup is a courtesy and must never stop a run.
    }
}

fs::path RunFolder::defaultRoot() {
    const char* cache = std::getenv("XDG_CACHE_HOME");
    if (cache && *cache && fs::path(cache).is_absolute())
        return fs::path(cache) / "vantel-record";
    return homeFolder() / ".cache" / "vantel-record";
}

std::string makeUuidString() {
    std::random_device source;
    std::array<uint8_t, 16> bytes{};
    for (size_t i = 0; i < bytes.size(); i += 4) {
        const uint32_t word = source();
        for (size_t k = 0; k < 4; ++k)
            bytes[i + k] = uint8_t(word >> (8 * k));
    }
    bytes[6] = uint8_t((bytes[6] & 0x0F) | 0x40); // version 4
    bytes[8] = uint8_t((bytes[8] & 0x3F) | 0x80); // RFC 4122 variant
    std::string text;
    text.reserve(36);
    char hex[3];
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10)
            text += '-';
        std::snprintf(hex, sizeof hex, "%02X", bytes[i]);
        text += hex;
    }
    return text;
}

} // namespace vantel
