#pragma once

// Copies byte ranges between open files, in the kernel where it can (copy_file_range: no trip
// through user space, and on btrfs or XFS a shared extent instead of a copy), else by reading
// and writing through one buffer. A file system or kernel that refuses the kernel copy switches
// this copier to reading and writing for good; a full disk or a failing device is an error.
//
// Not thread-safe: one copier per output, on one thread.

#include <cstdint>
#include <vector>

namespace vantel::media {

enum class CopyMethod {
    kernel,    // copy_file_range, falling back to read and write where it is refused
    readWrite, // read and write only
};

class FileCopy {
public:
    explicit FileCopy(CopyMethod method)
        : m_kernel(method == CopyMethod::kernel) {}

    // Appends `length` bytes of `in` from `offset` at the current position of `out`. Throws
    // MediaError(read) when `in` ends early or cannot be read, MediaError(write) when `out`
    // cannot take the bytes (a full disk among them).
    void append(int in, uint64_t offset, int out, uint64_t length);

    bool usedKernel() const { return m_kernelBytes > 0; }

private:
    // False when the kernel refused the copy before any of it was done.
    bool kernelCopy(int in, uint64_t& offset, int out, uint64_t& length);
    void readWriteCopy(int in, uint64_t offset, int out, uint64_t length);

    bool m_kernel;
    uint64_t m_kernelBytes = 0;
    std::vector<uint8_t> m_buffer;
};

} // namespace vantel::media
