#include "DiskBlobStore.h"

#include "Ids.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

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

// Writes into "<target>.tmp-<random>" and renames it over the target on commit. Bodies arrive
// from the HTTP library 4 KiB at a time; they are gathered into larger writes.
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
        if (m_buffer.size() + size > kBufferBytes)
            flush();
        if (size >= kBufferBytes)
            return writeAll(m_fd.get(), data, size, m_temporary);
        m_buffer.insert(m_buffer.end(), data, data + size);
    }

    QString commit() override {
        flush();
        if (::close(m_fd.release()) != 0)
            fail(QStringLiteral("Can't finish"), m_temporary, errno);
        if (::rename(QFile::encodeName(m_temporary).constData(),
                     QFile::encodeName(m_target).constData()) != 0)
            fail(QStringLiteral("Can't rename"), m_temporary, errno);
        m_committed = true;
        return {};
    }

private:
    static constexpr size_t kBufferBytes = 256 * 1024;

    void flush() {
        writeAll(m_fd.get(), m_buffer.data(), m_buffer.size(), m_temporary);
        m_buffer.clear();
    }

    QString m_target;
    QString m_temporary;
    FileDescriptor m_fd;
    std::vector<char> m_buffer;
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

// A video kept as the parts it was uploaded in, read as one file. The parts are opened as the
// reads reach them. Sizes come from the index written at the join and are checked against the
// files, so a damaged store is an error rather than wrong bytes.
class PartsReader : public BlobReader {
public:
    struct Piece {
        int64_t start = 0;
        int64_t size = 0;
        QString path;
    };

    explicit PartsReader(std::vector<Piece> pieces)
        : m_pieces(std::move(pieces)) {
        m_files.resize(m_pieces.size());
        m_size = m_pieces.empty() ? 0 : m_pieces.back().start + m_pieces.back().size;
    }

    int64_t size() const override { return m_size; }

    size_t read(int64_t offset, char* data, size_t size) override {
        size_t given = 0;
        while (given < size && offset < m_size) {
            const size_t index = pieceAt(offset);
            const Piece& piece = m_pieces[index];
            const size_t want =
                size_t(std::min<int64_t>(int64_t(size - given), piece.start + piece.size - offset));
            const size_t got = readPiece(index, offset - piece.start, data + given, want);
            if (got == 0)
                fail(QStringLiteral("Part ended early:"), piece.path, EIO);
            given += got;
            offset += int64_t(got);
        }
        return given;
    }

private:
    size_t pieceAt(int64_t offset) const {
        auto after = std::upper_bound(m_pieces.begin(), m_pieces.end(), offset,
                                      [](int64_t at, const Piece& p) { return at < p.start; });
        return size_t(after - m_pieces.begin()) - 1;
    }

    size_t readPiece(size_t index, int64_t offset, char* data, size_t size) {
        if (!m_files[index])
            m_files[index] = openChecked(m_pieces[index]);
        for (;;) {
            const ssize_t got = ::pread(m_files[index]->get(), data, size, offset);
            if (got >= 0)
                return size_t(got);
            if (errno != EINTR)
                fail(QStringLiteral("Can't read"), m_pieces[index].path, errno);
        }
    }

    static std::unique_ptr<FileDescriptor> openChecked(const Piece& piece) {
        auto fd = std::make_unique<FileDescriptor>(
            ::open(QFile::encodeName(piece.path).constData(), O_RDONLY | O_CLOEXEC));
        if (fd->get() < 0)
            fail(QStringLiteral("Can't open"), piece.path, errno);
        struct stat facts {};
        if (::fstat(fd->get(), &facts) != 0)
            fail(QStringLiteral("Can't read the size of"), piece.path, errno);
        if (int64_t(facts.st_size) != piece.size)
            fail(QStringLiteral("Part has another size than when it was joined:"), piece.path, EIO);
        return fd;
    }

    std::vector<Piece> m_pieces;
    std::vector<std::unique_ptr<FileDescriptor>> m_files;
    int64_t m_size = 0;
};

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

QString DiskBlobStore::joinedFolder(const QString& clipId) const {
    return clipFolder(clipId) + QStringLiteral("/video");
}

// The join writes no video bytes again: the parts stay where they are, an index of them is
// added, and the parts folder becomes the video's folder in one rename. A join repeated after
// that rename (the service stopped before it recorded the clip as finished) finds it done.
void DiskBlobStore::joinParts(const QString& clipId, const QString&,
                              const QList<StoredPart>& parts) {
    const QString from = clipFolder(clipId) + QStringLiteral("/parts");
    const QString to = joinedFolder(clipId);
    if (!QFileInfo::exists(from) && QFileInfo::exists(to + QStringLiteral("/index")))
        return;
    QByteArray index;
    for (const StoredPart& part : parts) {
        const QString path = partPath(clipId, part.number);
        struct stat facts {};
        if (::stat(QFile::encodeName(path).constData(), &facts) != 0)
            fail(QStringLiteral("Can't join the missing part"), path, errno);
        if (int64_t(facts.st_size) != part.size)
            fail(QStringLiteral("Can't join the part of another size"), path, EIO);
        index += QByteArray::number(part.number) + ' ' + QByteArray::number(part.size) + '\n';
    }
    FileSink sink(from + QStringLiteral("/index"));
    sink.write(index.constData(), size_t(index.size()));
    sink.commit();
    if (QFileInfo::exists(to) && !QDir(to).removeRecursively())
        fail(QStringLiteral("Can't replace"), to, errno ? errno : EACCES);
    if (::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) != 0)
        fail(QStringLiteral("Can't move the parts into place at"), to, errno);
}

std::unique_ptr<BlobReader> DiskBlobStore::openJoined(const QString& clipId) const {
    const QString folder = joinedFolder(clipId);
    QFile index(folder + QStringLiteral("/index"));
    if (!index.open(QIODevice::ReadOnly)) {
        if (!index.exists())
            return nullptr;
        fail(QStringLiteral("Can't open"), index.fileName(), EACCES);
    }
    std::vector<PartsReader::Piece> pieces;
    int64_t start = 0;
    for (const QByteArray& line : index.readAll().split('\n')) {
        if (line.isEmpty())
            continue;
        const QList<QByteArray> fields = line.split(' ');
        bool numberOk = false, sizeOk = false;
        const int64_t number = fields.value(0).toLongLong(&numberOk);
        const int64_t size = fields.value(1).toLongLong(&sizeOk);
        if (fields.size() != 2 || !numberOk || !sizeOk || number < 1 || size < 0)
            fail(QStringLiteral("Can't read the index"), index.fileName(), EIO);
        pieces.push_back({start, size, folder + u'/' + QString::number(number)});
        start += size;
    }
    return std::make_unique<PartsReader>(std::move(pieces));
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
            return kind == BlobKind::Video ? openJoined(clipId) : nullptr;
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
    const QString joined = joinedFolder(clipId);
    if (kind == BlobKind::Video && QFileInfo::exists(joined) && !QDir(joined).removeRecursively())
        fail(QStringLiteral("Can't remove"), joined, errno ? errno : EACCES);
}

void DiskBlobStore::removeClip(const QString& clipId, const QString&) {
    const QString folder = clipFolder(clipId);
    if (QDir(folder).exists() && !QDir(folder).removeRecursively())
        throw BlobError("Can't remove the folder " + folder.toStdString());
}

} // namespace vantel::server
