// The read side of the replay buffer: choosing the newest segments for a save, joining them into
// one file, and how much is buffered. Each copies or sums the in-memory lists under the lock and
// does all file work on the copies, so segment delivery is never held up by a save's input or
// output.

#include "OutputFile.h"
#include "RecordError.h"
#include "ReplayBuffer.h"
#include "RunFolder.h"

#include <algorithm>
#include <cmath>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace vantel {

namespace {

using Segment = ReplayBuffer::Segment;

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

// Negative or NaN: the newest segment alone.
double wanted(double seconds) {
    return seconds >= 0.0 ? seconds : 0.0;
}

} // namespace

std::vector<ReplayBuffer::ChosenRun> ReplayBuffer::chooseRuns(double seconds, double until) const {
    // Newest run first, each oldest segment first, as listed now.
    std::vector<ChosenRun> listed;
    {
        std::lock_guard guard(m_lock);
        if (m_initSegment)
            listed.push_back({*m_initSegment, {m_segments.begin(), m_segments.end()}});
        for (auto run = m_earlier.rbegin(); run != m_earlier.rend(); ++run)
            listed.push_back({run->init, {run->segments.begin(), run->segments.end()}});
    }
    for (ChosenRun& run : listed)
        while (!run.segments.empty() && !(run.segments.back().start < until))
            run.segments.pop_back();
    std::erase_if(listed, [](const ChosenRun& run) { return run.segments.empty(); });
    if (listed.empty())
        throw RecordError::nothingBuffered();
    const Segment& newest = listed.front().segments.back();
    if (std::isfinite(until) && until - newest.written > kMaxAge)
        throw RecordError::stale(until - (newest.start + newest.duration));

    // From the newest segment backwards until `seconds` are covered; the newest always counts.
    seconds = wanted(seconds);
    std::vector<ChosenRun> chosen;
    double total = 0.0;
    for (ChosenRun& run : listed) {
        size_t first = run.segments.size();
        do {
            total += run.segments[--first].duration;
        } while (first > 0 && total < seconds);
        run.segments.erase(run.segments.begin(), run.segments.begin() + long(first));
        chosen.push_back(std::move(run));
        if (total >= seconds)
            break;
    }
    return chosen;
}

ReplayBuffer::SegmentSet ReplayBuffer::chooseSegments(double seconds, double until) const {
    const std::vector<ChosenRun> chosen = chooseRuns(seconds, until);
    SegmentSet set;
    for (auto run = chosen.rbegin(); run != chosen.rend(); ++run) {
        media::SegmentRun files{run->init, {}};
        for (const Segment& segment : run->segments)
            files.files.push_back(segment.url);
        set.runs.push_back(std::move(files));
    }
    const Segment& newest = chosen.front().segments.back();
    set.to = newest.start + newest.duration;
    set.from = std::max(set.to - wanted(seconds), chosen.back().segments.front().start);
    return set;
}

ReplayBuffer::Snapshot ReplayBuffer::snapshot(double seconds, double until) const {
    // Only the newest run: another run's fragments do not join behind this run's header.
    const ChosenRun newest = chooseRuns(seconds, until).front();
    const fs::path url = fs::temp_directory_path() / ("snap-" + makeUuidString() + ".mp4");
    OutputFile out(url, OutputFile::Mode::createNew);
    out.write(newest.init.data(), newest.init.size());
    std::vector<uint8_t> bytes;
    for (const Segment& segment : newest.segments) {
        if (readWhole(segment.url, bytes))
            out.write(bytes.data(), bytes.size());
    }
    out.commit();
    const double to = newest.segments.back().start + newest.segments.back().duration;
    const double from = std::max(to - wanted(seconds), newest.segments.front().start);
    return {url, from, to};
}

double ReplayBuffer::bufferedSeconds() const {
    std::lock_guard guard(m_lock);
    double total = 0.0;
    for (const Segment& segment : m_segments)
        total += segment.duration;
    for (const EndedRun& run : m_earlier)
        for (const Segment& segment : run.segments)
            total += segment.duration;
    return total;
}

} // namespace vantel
