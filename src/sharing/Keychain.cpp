#include "Keychain.h"

#include "settings/AppPaths.h"

#include <QByteArray>
#include <QCoro/QCoroSignal>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <qt6keychain/keychain.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace vantel::Keychain {

namespace {

const QString serviceName = QStringLiteral("vantel-record");
const QString secretsBusName = QStringLiteral("org.freedesktop.secrets");

std::optional<Backend> forced;

Backend detect() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface())
        return Backend::file;
    if (bus.interface()->isServiceRegistered(secretsBusName))
        return Backend::secretService;
    QDBusReply<QStringList> activatable = bus.interface()->activatableServiceNames();
    return activatable.isValid() && activatable.value().contains(secretsBusName)
               ? Backend::secretService
               : Backend::file;
}

struct JobDeleter {
    void operator()(QKeychain::Job* job) const { job->deleteLater(); }
};
template <typename Job> using JobPtr = std::unique_ptr<Job, JobDeleter>;

template <typename Job> JobPtr<Job> makeJob(const QString& account) {
    JobPtr<Job> job(new Job(serviceName));
    job->setAutoDelete(false);
    job->setKey(account);
    return job;
}

QCoro::Task<QKeychain::Error> run(QKeychain::Job* job) {
    job->start();
    co_await qCoro(job, &QKeychain::Job::finished);
    co_return job->error();
}

// The file backend. Every descriptor is opened with O_NOFOLLOW so a planted link cannot
// redirect the secret elsewhere.
std::optional<QString> readFile(const QString& path) {
    int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    QByteArray bytes;
    char chunk[4096];
    ssize_t count = 0;
    while ((count = ::read(fd, chunk, sizeof chunk)) > 0)
        bytes.append(chunk, count);
    ::close(fd);
    if (count < 0)
        return std::nullopt;
    return QString::fromUtf8(bytes);
}

bool writeAll(int fd, const QByteArray& bytes) {
    qsizetype done = 0;
    while (done < bytes.size()) {
        ssize_t count = ::write(fd, bytes.constData() + done, bytes.size() - done);
        if (count <= 0)
            return false;
        done += count;
    }
    return ::fsync(fd) == 0;
}

[[noreturn]] void storeFailed(const QString& where, const QString& reason) {
    throw std::runtime_error(
        QStringLiteral("Couldn't keep the sign-in in %1: %2").arg(where, reason).toStdString());
}

// The earlier file stays until the rename puts the new one in its place.
void writeFile(const QString& path, const QString& value) {
    const QByteArray target = QFile::encodeName(path);
    const QByteArray fresh = target + ".new";
    ::unlink(fresh.constData());
    // O_EXCL: the descriptor belongs to a file created here with 0600 (the umask can only
    // narrow it), never to one somebody else left with wider rights.
    int fd = ::open(fresh.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        storeFailed(QFile::decodeName(fresh), QString::fromLocal8Bit(std::strerror(errno)));
    const bool written = writeAll(fd, value.toUtf8());
    const int writeError = errno;
    ::close(fd);
    if (written && ::rename(fresh.constData(), target.constData()) == 0)
        return;
    const int error = written ? errno : writeError;
    ::unlink(fresh.constData());
    storeFailed(path, QString::fromLocal8Bit(std::strerror(error)));
}

} // namespace

Backend backend() {
    if (forced)
        return *forced;
    static const Backend detected = detect();
    return detected;
}

void force(Backend backend) {
    forced = backend;
}

QString filePath(const QString& account) {
    return AppPaths::appSupport() + QStringLiteral("/keychain-") + account;
}

QCoro::Task<std::optional<QString>> get(QString account) {
    if (backend() == Backend::file)
        co_return readFile(filePath(account));
    auto job = makeJob<QKeychain::ReadPasswordJob>(account);
    QKeychain::Error error = co_await run(job.get());
    if (error != QKeychain::NoError)
        co_return std::nullopt;
    co_return job->textData();
}

QCoro::Task<> set(QString account, QString value) {
    if (backend() == Backend::file) {
        writeFile(filePath(account), value);
        co_return;
    }
    // No removal first: the write replaces the item with the same attributes, so a write the
    // keyring refuses (locked, gone from the bus) keeps the earlier token.
    auto job = makeJob<QKeychain::WritePasswordJob>(account);
    job->setTextData(value);
    if (co_await run(job.get()) != QKeychain::NoError)
        storeFailed(QStringLiteral("the keyring"), job->errorString());
}

QCoro::Task<> remove(QString account) {
    if (backend() == Backend::file) {
        ::unlink(QFile::encodeName(filePath(account)).constData());
        co_return;
    }
    auto job = makeJob<QKeychain::DeletePasswordJob>(account);
    co_await run(job.get());
}

} // namespace vantel::Keychain
