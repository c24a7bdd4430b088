#include "DiskBlobStore.h"

#include "Ids.h"

#include <QDir>
#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantel::server {

namespace {

[[noreturn]] void fail(const QString& what, const QString& path, int error) {
    throw BlobError(QStringLiteral("%1 %2: %3")
                        .arg(what, path, QString::fromLocal8Bit(std::strerror(error)))
                        .toStdString());
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd)
        : m_fd(fd) {}
    ~FileDescriptor() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return m_fd; }
    int release() { return std::exchange(m_fd, -1); }

private:
    int m_fd;
};

void writeAll(int fd, const char* data, size_t size, const QString& path) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            fail(QStringLiteral("Can't write"), path, written < 0 ? errno : ENOSPC);
        data += written;
        size -= size_t(written);
    }
}

// Writes into "<target>.tmp-<random>" and renames it over the target on commit.
class FileSink : public BlobSink {
public:
    explicit FileSink(QString target)
        : m_target(std::move(target))
        , m_temporary(m_target + QStringLiteral(".tmp-") + randomToken(6))
        , m_fd(::open(QFile::encodeName(m_temporary).constData(),
                      O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0640)) {
        if (m_fd.get() < 0)
            fail(QStringLiteral("Can't create"), m_temporary, errno);
    }
    ~FileSink() override {
        if (!m_committed)
            ::unlink(QFile::encodeName(m_temporary).constData());
    }

    void write(const char* data, size_t size) override {
        writeAll(m_fd.get(), data, size, m_temporary);
    }

    QString commit() override {
        if (::close(m_fd.release()) != 0)
            fail(QStringLiteral("Can't finish"), m_temporary, errno);
        if (::rename(QFile::encodeName(m_temporary).constData(),
                     QFile::encodeName(m_target).constData()) != 0)
            fail(QStringLiteral("Can't rename"), m_temporary, errno);
        m_committed = true;
        return {};
    }

private:
    QString m_target;
    QString m_temporary;
    FileDescriptor m_fd;
    bool m_committed = false;
};

class FileReader : public BlobReader {
public:
    FileReader(int fd, int64_t size, QString path)
        : m_fd(fd)
        , m_size(size)
        , m_path(std::move(path)) {}

    int64_t size() const override { return m_size; }

    size_t read(int64_t offset, char* data, size_t size) override {
        for (;;) {
            const ssize_t got = ::pread(m_fd.get(), data, size, offset);
            if (got >= 0)
                return size_t(got);
            if (errno != EINTR)
                fail(QStringLiteral("Can't read"), m_path, errno);
        }
    }

private:
    FileDescriptor m_fd;
    int64_t m_size;
    QString m_path;
};

// Appends the whole of `source` to `target`, in the kernel where it can.
void appendFile(int target, const QString& sourcePath, const QString& targetPath) {
    FileDescriptor source(::open(QFile::encodeName(sourcePath).constData(), O_RDONLY | O_CLOEXEC));
    if (source.get() < 0)
        fail(QStringLiteral("Can't open"), sourcePath, errno);
    for (;;) {
        const ssize_t moved = ::copy_file_range(source.get(), nullptr, target, nullptr, 1 << 30, 0);
        if (moved == 0)
            return;
        if (moved > 0)
            continue;
        if (errno == EINTR)
            continue;
        if (errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
            fail(QStringLiteral("Can't copy"), sourcePath, errno);
        break;
    }
    char buffer[1 << 16];
    for (;;) {
        const ssize_t got = ::read(source.get(), buffer, sizeof buffer);
        if (got == 0)
            return;
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            fail(QStringLiteral("Can't read"), sourcePath, errno);
        writeAll(target, buffer, size_t(got), targetPath);
    }
}

void makeFolder(const QString& path) {
    if (!QDir().mkpath(path))
        fail(QStringLiteral("Can't create the folder"), path, errno ? errno : EACCES);
}

} // namespace

DiskBlobStore::DiskBlobStore(QString root)
    : m_root(std::move(root)) {
    makeFolder(m_root);
}

QString DiskBlobStore::clipFolder(const QString& clipId) const {
    if (!isSafeId(clipId))
        throw BlobError("Refused a clip id that is not a plain name.");
    return m_root + u'/' + clipId.left(2) + u'/' + clipId;
}

QString DiskBlobStore::blobPath(const QString& clipId, BlobKind kind) const {
    switch (kind) {
    case BlobKind::Video:
        return clipFolder(clipId) + QStringLiteral("/video.mp4");
    case BlobKind::Preview:
        return clipFolder(clipId) + QStringLiteral("/preview.mp4");
    case BlobKind::Thumb:
        return clipFolder(clipId) + QStringLiteral("/thumb.jpg");
    }
    return {};
}

QString DiskBlobStore::partPath(const QString& clipId, int64_t number) const {
    return clipFolder(clipId) + QStringLiteral("/parts/") + QString::number(number);
}

QString DiskBlobStore::beginUpload(const QString& clipId) {
    makeFolder(clipFolder(clipId) + QStringLiteral("/parts"));
    return {};
}

std::unique_ptr<BlobSink> DiskBlobStore::openPart(const QString& clipId, const QString&,
                                                  int64_t number, int64_t) {
    makeFolder(clipFolder(clipId) + QStringLiteral("/parts"));
    return std::make_unique<FileSink>(partPath(clipId, number));
}

void DiskBlobStore::joinParts(const QString& clipId, const QString&,
                              const QList<StoredPart>& parts) {
    const QString video = blobPath(clipId, BlobKind::Video);
    const QString temporary = video + QStringLiteral(".join-") + randomToken(6);
    FileDescriptor target(::open(QFile::encodeName(temporary).constData(),
                                 O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0640));
    if (target.get() < 0)
        fail(QStringLiteral("Can't create"), temporary, errno);
    try {
        for (const StoredPart& part : parts)
            appendFile(target.get(), partPath(clipId, part.number), temporary);
        if (::close(target.release()) != 0)
            fail(QStringLiteral("Can't finish"), temporary, errno);
        if (::rename(QFile::encodeName(temporary).constData(),
                     QFile::encodeName(video).constData()) != 0)
            fail(QStringLiteral("Can't rename"), temporary, errno);
    } catch (...) {
        ::unlink(QFile::encodeName(temporary).constData());
        throw;
    }
    abortUpload(clipId, {});
}

void DiskBlobStore::abortUpload(const QString& clipId, const QString&) {
    QDir(clipFolder(clipId) + QStringLiteral("/parts")).removeRecursively();
}

std::unique_ptr<BlobSink> DiskBlobStore::openBlob(const QString& clipId, BlobKind kind, int64_t) {
    makeFolder(clipFolder(clipId));
    return std::make_unique<FileSink>(blobPath(clipId, kind));
}

std::unique_ptr<BlobReader> DiskBlobStore::open(const QString& clipId, BlobKind kind) {
    const QString path = blobPath(clipId, kind);
    FileDescriptor fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
        if (errno == ENOENT)
            return nullptr;
        fail(QStringLiteral("Can't open"), path, errno);
    }
    struct stat facts {};
    if (::fstat(fd.get(), &facts) != 0)
        fail(QStringLiteral("Can't read the size of"), path, errno);
    return std::make_unique<FileReader>(fd.release(), int64_t(facts.st_size), path);
}

void DiskBlobStore::remove(const QString& clipId, BlobKind kind) {
    const QString path = blobPath(clipId, kind);
    if (::unlink(QFile::encodeName(path).constData()) != 0 && errno != ENOENT)
        fail(QStringLiteral("Can't remove"), path, errno);
}

void DiskBlobStore::removeClip(const QString& clipId, const QString&) {
    const QString folder = clipFolder(clipId);
    if (QDir(folder).exists() && !QDir(folder).removeRecursively())
        throw BlobError("Can't remove the folder " + folder.toStdString());
}

} // namespace vantel::server
