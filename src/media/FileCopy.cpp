#include "FileCopy.h"

#include "MediaError.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <unistd.h>

namespace vantel::media {

namespace {

constexpr size_t kBufferSize = 1 << 20;
constexpr uint64_t kKernelStep = 1ull << 30;

[[noreturn]] void failWrite(int err) {
    throw MediaError(MediaError::Kind::write,
                     std::string("cannot write the clip: ") + std::strerror(err));
}
[[noreturn]] void failRead(const std::string& why) {
    throw MediaError(MediaError::Kind::read, "cannot read a segment: " + why);
}

// The kernel's ways of saying "not between these files": copy by hand instead.
bool refused(int err) {
    return err == EXDEV || err == EINVAL || err == ENOSYS || err == EOPNOTSUPP || err == ENOTSUP ||
           err == EPERM || err == ETXTBSY || err == EBADF;
}

void writeAll(int out, const uint8_t* data, size_t length) {
    while (length > 0) {
        const ssize_t n = ::write(out, data, length);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            failWrite(errno);
        if (n == 0)
            failWrite(ENOSPC);
        data += n;
        length -= size_t(n);
    }
}

} // namespace

void FileCopy::append(int in, uint64_t offset, int out, uint64_t length) {
    if (m_kernel && !kernelCopy(in, offset, out, length))
        m_kernel = false;
    if (length > 0)
        readWriteCopy(in, offset, out, length);
}

bool FileCopy::kernelCopy(int in, uint64_t& offset, int out, uint64_t& length) {
    while (length > 0) {
        loff_t from = loff_t(offset);
        const ssize_t n =
            ::copy_file_range(in, &from, out, nullptr, size_t(std::min(length, kKernelStep)), 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && refused(errno))
            return false;
        if (n < 0)
            failWrite(errno);
        if (n == 0)
            failRead("it ends before its samples");
        offset += uint64_t(n);
        length -= uint64_t(n);
        m_kernelBytes += uint64_t(n);
    }
    return true;
}

void FileCopy::readWriteCopy(int in, uint64_t offset, int out, uint64_t length) {
    m_buffer.resize(kBufferSize);
    while (length > 0) {
        const ssize_t n = ::pread(in, m_buffer.data(),
                                  size_t(std::min<uint64_t>(length, kBufferSize)), off_t(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            failRead(std::strerror(errno));
        if (n == 0)
            failRead("it ends before its samples");
        writeAll(out, m_buffer.data(), size_t(n));
        offset += uint64_t(n);
        length -= uint64_t(n);
    }
}

} // namespace vantel::media
