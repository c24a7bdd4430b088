#pragma once

// A file being written in one go: opened on construction, filled with whole writes, and kept
// only once commit() has succeeded. Destroyed uncommitted (an error, an exception on the way) it
// removes itself, so a failed write never leaves a partial file behind.
//
// Errors are std::filesystem::filesystem_error carrying the system's error code.

#include <cerrno>
#include <cstddef>
#include <fcntl.h>
#include <filesystem>
#include <system_error>
#include <unistd.h>

namespace vantel {

class OutputFile {
public:
    enum class Mode {
        createNew, // fail when the path exists
        replace,   // create or truncate
    };

    OutputFile(std::filesystem::path path, Mode mode)
        : m_path(std::move(path)) {
        const int how = mode == Mode::createNew ? O_EXCL : O_TRUNC;
        m_fd = ::open(m_path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | how, 0644);
        if (m_fd < 0)
            fail("cannot create file");
    }

    ~OutputFile() {
        if (m_fd >= 0)
            ::close(m_fd);
        if (!m_committed)
            ::unlink(m_path.c_str());
    }

    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    const std::filesystem::path& path() const { return m_path; }

    void write(const void* data, std::size_t size) {
        const auto* bytes = static_cast<const char*>(data);
        while (size > 0) {
            const ssize_t done = ::write(m_fd, bytes, size);
            if (done < 0 && errno == EINTR)
                continue;
            if (done <= 0)
                fail("cannot write file");
            bytes += done;
            size -= std::size_t(done);
        }
    }

    // Closes the file and keeps it. A failing close can mean lost data (it reports deferred
    // write errors), so it counts as a failed write.
    void commit() {
        const int fd = m_fd;
        m_fd = -1;
        if (::close(fd) != 0)
            fail("cannot write file");
        m_committed = true;
    }

private:
    [[noreturn]] void fail(const char* what) const {
        const int code = errno != 0 ? errno : EIO;
        throw std::filesystem::filesystem_error(what, m_path,
                                                std::error_code(code, std::generic_category()));
    }

    std::filesystem::path m_path;
    int m_fd = -1;
    bool m_committed = false;
};

} // namespace vantel
