#include "WorkFolder.h"

#include <QFile>
#include <QRegularExpression>
#include <QUuid>
#include <cerrno>
#include <fcntl.h>
#include <stdexcept>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantel {

namespace {

const QString kOwnerFile = QStringLiteral("owner.lock");

QString newName() {
    return QStringLiteral("share-") + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

[[noreturn]] void cannotMake(const QString& parent) {
    throw std::runtime_error(QStringLiteral("Couldn't make a working folder in %1 for the upload.")
                                 .arg(parent)
                                 .toStdString());
}

// The locked owner file, written under a passing name and renamed into place, so that no sweep
// ever sees an "owner.lock" that is not locked yet. -1 when it cannot be made.
int lockFolder(const QString& folder) {
    const QByteArray passing = QFile::encodeName(folder + QStringLiteral("/.owner-new"));
    const int fd = ::open(passing.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return -1;
    const QByteArray pid = QByteArray::number(qint64(::getpid())) + '\n';
    const QByteArray target = QFile::encodeName(folder + u'/' + kOwnerFile);
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 ||
        ::write(fd, pid.constData(), pid.size()) != pid.size() ||
        ::rename(passing.constData(), target.constData()) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool isShareFolder(const QString& name) {
    static const QRegularExpression pattern(
        QStringLiteral("^share-[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$"));
    return pattern.match(name).hasMatch();
}

qint64 ownerPid(int fd) {
    char text[32] = {};
    const ssize_t got = ::pread(fd, text, sizeof text - 1, 0);
    return got > 0 ? QByteArray(text, int(got)).trimmed().toLongLong() : -1;
}

// Whether the folder at `path` is a share folder of this user that `whose` names.
bool isLeftover(const QString& path, WorkFolder::Whose whose) {
    const QByteArray folder = QFile::encodeName(path);
    struct stat info {};
    if (::lstat(folder.constData(), &info) != 0 || !S_ISDIR(info.st_mode) ||
        info.st_uid != ::getuid())
        return false;
    const QByteArray owner = QFile::encodeName(path + u'/' + kOwnerFile);
    const int fd = ::open(owner.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return false;
    bool leftover = ::flock(fd, LOCK_SH | LOCK_NB) == 0;
    if (!leftover && errno == EWOULDBLOCK && whose == WorkFolder::Whose::endedAndOwn)
        leftover = ownerPid(fd) == qint64(::getpid());
    ::close(fd);
    return leftover;
}

} // namespace

WorkFolder::WorkFolder(const QString& parent)
    : m_path(parent + u'/' + newName()) {
    if (!QDir().mkpath(parent) ||
        !QDir().mkdir(m_path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner))
        cannotMake(parent);
    m_lock = lockFolder(m_path);
    if (m_lock < 0) {
        QDir(m_path).removeRecursively();
        cannotMake(parent);
    }
}

WorkFolder::~WorkFolder() {
    // The lock goes last: until the folder is gone, no sweep may take it for a leftover.
    QDir(m_path).removeRecursively();
    ::close(m_lock);
}

int WorkFolder::removeLeftovers(Whose whose, const QString& parent) {
    int removed = 0;
    const QStringList names =
        QDir(parent).entryList(QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QString& name : names) {
        const QString path = parent + u'/' + name;
        if (isShareFolder(name) && isLeftover(path, whose) && QDir(path).removeRecursively())
            ++removed;
    }
    return removed;
}

} // namespace vantel
