#include "DirectSave.h"

#include "ClipCut.h"
#include "FragmentIndex.h"
#include "MediaError.h"
#include "PartialFile.h"
#include "ProgressiveMp4.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/magic.h>
#include <string>
#include <sys/vfs.h>
#include <unistd.h>
#include <utility>

namespace vantel::media {

namespace fs = std::filesystem;

namespace {

class Descriptor {
public:
    explicit Descriptor(int fd)
        : m_fd(fd) {}
    ~Descriptor() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Descriptor(Descriptor&& other) noexcept
        : m_fd(std::exchange(other.m_fd, -1)) {}
    Descriptor& operator=(Descriptor&& other) noexcept {
        std::swap(m_fd, other.m_fd);
        return *this;
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return m_fd; }
    // Closes now, so a failing close (a full disk on some file systems) is seen.
    int close() { return ::close(std::exchange(m_fd, -1)); }

private:
    int m_fd;
};

// The partial clip: removed unless published.
class PartialClip {
public:
    explicit PartialClip(const fs::path& target)
        : m_target(target)
        , m_path(partialPathFor(target))
        , m_fd(::open(m_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644)) {
        if (m_fd.get() < 0)
            throw MediaError(MediaError::Kind::openOutput,
                             "cannot create " + m_path.string() + ": " + std::strerror(errno));
    }
    ~PartialClip() {
        if (!m_published) {
            std::error_code ignored;
            fs::remove(m_path, ignored);
        }
    }
    int fd() const { return m_fd.get(); }

    void publish() {
        if (m_fd.close() != 0)
            throw MediaError(MediaError::Kind::write,
                             std::string("cannot close the clip: ") + std::strerror(errno));
        const std::error_code err = publishPartial(m_path, m_target, false);
        if (err == std::errc::file_exists)
            throw MediaError(MediaError::Kind::openOutput, "target exists: " + m_target.string());
        if (err)
            throw MediaError(MediaError::Kind::write,
                             "cannot name " + m_target.string() + ": " + err.message());
        m_published = true;
    }

private:
    fs::path m_target;
    fs::path m_path;
    Descriptor m_fd;
    bool m_published = false;
};

void writeAll(int fd, const std::vector<uint8_t>& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw MediaError(MediaError::Kind::write, std::string("cannot write the clip: ") +
                                                          std::strerror(n < 0 ? errno : ENOSPC));
        done += size_t(n);
    }
}

// Reserving the clip's space at once makes a full disk fail before any media is copied and spares
// the file system allocating block by block as the copy goes. Not where the copy may share the
// segments' blocks instead (btrfs, XFS): reserving would allocate what sharing then drops.
void reserveSpace(int fd, uint64_t size) {
    struct statfs info {};
    if (::fstatfs(fd, &info) == 0 &&
        (info.f_type == BTRFS_SUPER_MAGIC || info.f_type == XFS_SUPER_MAGIC))
        return;
    if (::fallocate(fd, 0, 0, off_t(size)) == 0)
        return;
    if (errno == ENOSPC || errno == EDQUOT || errno == EFBIG)
        throw MediaError(MediaError::Kind::write,
                         std::string("cannot write the clip: ") + std::strerror(errno));
    // Other refusals (a file system without reservations) leave the copy to allocate.
}

// The files of one run that are still there, oldest first: newest backwards up to the first that
// cannot be opened. `complete` when none was missing.
struct OpenedRun {
    std::vector<Descriptor> files;
    bool complete = true;
};

OpenedRun openNewestFiles(const SegmentRun& run) {
    OpenedRun opened;
    for (auto file = run.files.rbegin(); file != run.files.rend(); ++file) {
        Descriptor fd(::open(file->c_str(), O_RDONLY | O_CLOEXEC));
        if (fd.get() < 0) {
            opened.complete = false;
            break;
        }
        opened.files.push_back(std::move(fd));
    }
    std::reverse(opened.files.begin(), opened.files.end());
    return opened;
}

// Whether an earlier run's samples can go into a clip with the newest run's headers.
bool joins(const SegmentRun& earlier, const FragmentIndex& newest) {
    try {
        return FragmentIndex(earlier.init).sameTracks(newest);
    } catch (const MediaError&) {
        return false; // a header that does not read is not joined
    }
}

// The segments of the clip, indexed oldest first; `files` by the numbers the samples carry.
void indexRuns(const std::vector<SegmentRun>& runs, FragmentIndex& index,
               std::vector<Descriptor>& files) {
    std::vector<OpenedRun> taken; // newest first
    for (auto run = runs.rbegin(); run != runs.rend(); ++run) {
        if (run != runs.rbegin() && !joins(*run, index))
            break;
        taken.push_back(openNewestFiles(*run));
        if (!taken.back().complete)
            break;
    }
    bool first = true;
    for (auto run = taken.rbegin(); run != taken.rend(); ++run) {
        if (run->files.empty())
            continue;
        if (!first)
            index.startRun();
        first = false;
        for (Descriptor& fd : run->files) {
            index.addSegment(fd.get(), uint32_t(files.size()));
            files.push_back(std::move(fd));
        }
    }
}

} // namespace

DirectSaveResult saveNewest(const std::vector<uint8_t>& initSegment,
                            const std::vector<fs::path>& segments, double seconds,
                            const fs::path& target, CopyMethod method) {
    return saveNewest(std::vector<SegmentRun>{{initSegment, segments}}, seconds, target, method);
}

DirectSaveResult saveNewest(const std::vector<SegmentRun>& runs, double seconds,
                            const fs::path& target, CopyMethod method) {
    std::error_code ignored;
    if (fs::exists(fs::symlink_status(target, ignored)))
        throw MediaError(MediaError::Kind::openOutput, "target exists: " + target.string());
    if (runs.empty())
        throw MediaError(MediaError::Kind::noVideo, "no segments");
    FragmentIndex index(runs.back().init);
    std::vector<Descriptor> files;
    indexRuns(runs, index, files);
    if (!(seconds >= 0.0))
        seconds = 0.0;
    const ClipCut cut = cutNewest(index, seconds);
    const ProgressiveMp4 layout(cut);

    PartialClip clip(target);
    reserveSpace(clip.fd(), layout.size());
    writeAll(clip.fd(), layout.header());
    FileCopy copy(method);
    for (const ProgressiveMp4::Piece& piece : layout.payload()) {
        // Skipping ahead leaves a hole: nothing is written between the pieces.
        if (::lseek(clip.fd(), off_t(piece.at), SEEK_SET) != off_t(piece.at))
            throw MediaError(MediaError::Kind::write,
                             std::string("cannot write the clip: ") + std::strerror(errno));
        copy.append(files[piece.file].get(), piece.offset, clip.fd(), piece.length);
    }
    if (::ftruncate(clip.fd(), off_t(layout.size())) != 0)
        throw MediaError(MediaError::Kind::write,
                         std::string("cannot write the clip: ") + std::strerror(errno));
    clip.publish();
    const auto audio = std::count_if(cut.tracks.begin(), cut.tracks.end(), [](const CutTrack& t) {
        return t.source->kind == FragmentTrack::Kind::audio;
    });
    return {layout.size(), copy.usedKernel(), layout.duration(), int(audio)};
}

} // namespace vantel::media
