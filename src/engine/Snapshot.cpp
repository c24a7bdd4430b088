// The read side of the replay buffer: joining the newest segments into one file, and how much
// is buffered. Both copy or sum the in-memory list under the lock and do all file work on the
// copies, so segment delivery is never held up by a snapshot's input or output.

#include "OutputFile.h"
#include "RecordError.h"
#include "ReplayBuffer.h"
#include "RunFolder.h"

#include <algorithm>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace vantel {

namespace {

using Segment = ReplayBuffer::Segment;

// Index of the oldest segment to take: newest backwards until `seconds` are covered. The newest
// is always taken.
size_t firstChosen(const std::vector<Segment>& all, double seconds) {
    size_t first = all.size();
    double total = 0.0;
    do {
        --first;
        total += all[first].duration;
    } while (first > 0 && total < seconds);
    return first;
}

// Reads a whole segment file into `buffer` (reused across segments, so only one segment is in
// memory at a time). False when the file cannot be opened or read, typically because retention
// deleted it after the list was copied.
bool readWhole(const fs::path& path, std::vector<uint8_t>& buffer) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info {};
    bool ok = ::fstat(fd, &info) == 0;
    buffer.resize(ok ? size_t(info.st_size) : 0);
    size_t got = 0;
    while (ok && got < buffer.size()) {
        const ssize_t n = ::read(fd, buffer.data() + got, buffer.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            ok = false;
        if (n <= 0)
            break;
        got += size_t(n);
    }
    ::close(fd);
    buffer.resize(got);
    return ok;
}

} // namespace

ReplayBuffer::SegmentSet ReplayBuffer::chooseSegments(double seconds, double until) const {
    SegmentSet set;
    std::optional<std::vector<uint8_t>> init;
    std::vector<Segment> listed;
    {
        std::lock_guard guard(m_lock);
        init = m_initSegment;
        listed.assign(m_segments.begin(), m_segments.end());
    }
    while (!listed.empty() && !(listed.back().start < until))
        listed.pop_back();
    if (!init || listed.empty())
        throw RecordError::nothingBuffered();
    if (!(seconds >= 0.0))
        seconds = 0.0; // negative or NaN: the newest segment alone

    const size_t first = firstChosen(listed, seconds);
    set.init = std::move(*init);
    for (size_t i = first; i < listed.size(); ++i)
        set.files.push_back(listed[i].url);
    set.to = listed.back().start + listed.back().duration;
    set.from = std::max(set.to - seconds, listed[first].start);
    return set;
}

ReplayBuffer::Snapshot ReplayBuffer::snapshot(double seconds, double until) const {
    SegmentSet set = chooseSegments(seconds, until);
    const fs::path url = fs::temp_directory_path() / ("snap-" + makeUuidString() + ".mp4");
    OutputFile out(url, OutputFile::Mode::createNew);
    out.write(set.init.data(), set.init.size());
    std::vector<uint8_t> bytes;
    for (const fs::path& file : set.files) {
        if (readWhole(file, bytes))
            out.write(bytes.data(), bytes.size());
    }
    out.commit();
    return {url, set.from, set.to};
}

double ReplayBuffer::bufferedSeconds() const {
    std::lock_guard guard(m_lock);
    double total = 0.0;
    for (const Segment& segment : m_segments)
        total += segment.duration;
    return total;
}

} // namespace vantel
