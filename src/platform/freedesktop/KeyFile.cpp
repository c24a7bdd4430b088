#include "platform/freedesktop/KeyFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace vantel::platform {

namespace {

std::string trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos)
        return {};
    size_t e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

std::string unescape(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\' || i + 1 == s.size()) {
            out += s[i];
            continue;
        }
        char c = s[++i];
        out += c == 's' ? ' ' : c == 'n' ? '\n' : c == 't' ? '\t' : c == 'r' ? '\r' : c;
    }
    return out;
}

// Reads a plain file of at most `limit` bytes. The path may lie inside another program's root
// (/proc/PID/root), where a FIFO would block the caller forever and a device would never end, so
// it is opened without blocking and read only when it is a regular file of bounded size.
std::optional<std::string> readRegularFile(const std::filesystem::path& path, size_t limit) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    struct stat info {};
    bool ok = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && size_t(info.st_size) <= limit;
    std::string text(ok ? size_t(info.st_size) : 0, '\0');
    size_t got = 0;
    while (ok && got < text.size()) {
        const ssize_t n = ::read(fd, text.data() + got, text.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        ok = n >= 0;
        if (n <= 0)
            break;
        got += size_t(n);
    }
    ::close(fd);
    if (!ok)
        return std::nullopt;
    text.resize(got);
    return text;
}

} // namespace

std::optional<KeyFile> KeyFile::load(const std::filesystem::path& path) {
    std::optional<std::string> text = readRegularFile(path, kMaxFileBytes);
    if (!text)
        return std::nullopt;
    return parse(*text);
}

KeyFile KeyFile::parse(const std::string& text) {
    KeyFile file;
    std::istringstream in(text);
    std::string line;
    std::map<std::string, std::string>* group = nullptr;
    while (std::getline(in, line)) {
        std::string t = trim(line);
        if (t.empty() || t[0] == '#')
            continue;
        if (t.front() == '[' && t.back() == ']') {
            group = &file.m_groups[t.substr(1, t.size() - 2)];
            continue;
        }
        size_t eq = t.find('=');
        if (!group || eq == std::string::npos)
            continue;
        // The first occurrence of a key wins, as desktop-entry readers do.
        group->emplace(trim(t.substr(0, eq)), unescape(trim(t.substr(eq + 1))));
    }
    return file;
}

std::string KeyFile::value(const std::string& group, const std::string& key) const {
    auto g = m_groups.find(group);
    if (g == m_groups.end())
        return {};
    auto k = g->second.find(key);
    return k == g->second.end() ? std::string() : k->second;
}

bool KeyFile::has(const std::string& group, const std::string& key) const {
    auto g = m_groups.find(group);
    return g != m_groups.end() && g->second.count(key) > 0;
}

} // namespace vantel::platform
