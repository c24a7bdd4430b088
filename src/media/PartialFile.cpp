#include "PartialFile.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace vantel::media {

namespace fs = std::filesystem;

namespace {

constexpr const char* kMarker = ".vantel-";
constexpr const char* kSuffix = ".partial";
constexpr auto kAbandonedAfter = std::chrono::hours(1);

std::error_code lastError() {
    return {errno, std::generic_category()};
}

// The writer's process id in a partial name, or 0.
pid_t writerOf(const std::string& name) {
    const size_t marker = name.rfind(kMarker);
    if (marker == std::string::npos)
        return 0;
    try {
        return pid_t(std::stol(name.substr(marker + std::char_traits<char>::length(kMarker))));
    } catch (const std::exception&) {
        return 0;
    }
}

bool processEnded(pid_t pid) {
    return pid <= 0 || (::kill(pid, 0) != 0 && errno == ESRCH);
}

bool abandoned(const fs::directory_entry& entry) {
    const pid_t writer = writerOf(entry.path().filename().string());
    if (writer != ::getpid() && processEnded(writer))
        return true;
    std::error_code ec;
    const auto written = entry.last_write_time(ec);
    return !ec && fs::file_time_type::clock::now() - written > kAbandonedAfter;
}

// Without a rename that refuses to replace (some file systems lack it), a hard link does the
// same; without hard links (FAT), a check just before the rename is the best there is.
std::error_code publishWithoutReplacing(const fs::path& partial, const fs::path& target) {
    if (::renameat2(AT_FDCWD, partial.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0)
        return {};
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        return lastError();
    if (::link(partial.c_str(), target.c_str()) == 0) {
        ::unlink(partial.c_str());
        return {};
    }
    if (errno != EPERM && errno != ENOTSUP && errno != EOPNOTSUPP)
        return lastError();
    if (::access(target.c_str(), F_OK) == 0)
        return std::make_error_code(std::errc::file_exists);
    return ::rename(partial.c_str(), target.c_str()) == 0 ? std::error_code() : lastError();
}

} // namespace

fs::path partialPathFor(const fs::path& target) {
    static std::atomic<unsigned> counter{0};
    return target.parent_path() /
           ("." + target.filename().string() + kMarker + std::to_string(::getpid()) + "-" +
            std::to_string(counter++) + kSuffix);
}

std::error_code publishPartial(const fs::path& partial, const fs::path& target, bool replace) {
    if (!replace)
        return publishWithoutReplacing(partial, target);
    return ::rename(partial.c_str(), target.c_str()) == 0 ? std::error_code() : lastError();
}

bool isPartialName(const std::string& name) {
    return name.starts_with('.') && name.ends_with(kSuffix) &&
           name.find(kMarker) != std::string::npos;
}

void removeAbandonedPartials(const fs::path& folder) {
    std::error_code ec;
    fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec);
    for (const auto end = fs::recursive_directory_iterator(); !ec && it != end; it.increment(ec)) {
        std::error_code ignored;
        const std::string name = it->path().filename().string();
        if (it->is_directory(ignored)) {
            if (name.starts_with('.'))
                it.disable_recursion_pending();
        } else if (isPartialName(name) && abandoned(*it)) {
            fs::remove(it->path(), ignored);
        }
    }
}

} // namespace vantel::media
