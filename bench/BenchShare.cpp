// Sharing memory on this machine.
//
// Shares a 200 MB upload copy with the real client against the loopback stand-in of the
// service, run as a separate process (vantel-test-service beside this program) so that only the
// client's memory is measured. The render step copies a ready file (for the preview too, so the
// 200 MB preview upload shows that it is streamed), so the figures are about the upload alone.
//
// part_mb: the part size the service asked for (10 MB).
// baseline_rss_mb: resident memory just before the share.
// peak_rss_mb: the highest resident memory during the share (the peak is reset just before it).
//   Target: baseline + about two parts.
// peak_over_baseline_parts: (peak - baseline) / part size.
// upload_mb_per_s: copy size / share time on loopback.
// BENCH_TRACE=1 also prints the resident memory at every progress report.

#include "library/Library.h"
#include "settings/SiteUrl.h"
#include "sharing/Keychain.h"
#include "sharing/Sharing.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>
#include <exception>
#include <optional>

using namespace vantel;

namespace {

constexpr qint64 copyBytes = 200'000'000;
constexpr qint64 partBytes = 10'000'000;

double statusMb(const char* field) {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(qstrlen(field)).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return -1;
}

void resetPeak() {
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

void writeSource(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw std::runtime_error("cannot write the source");
    QByteArray chunk(1 << 20, Qt::Uninitialized);
    for (qint64 at = 0; at < copyBytes; at += chunk.size()) {
        for (int i = 0; i < chunk.size(); i += 4096)
            chunk[i] = static_cast<char>(at >> 20);
        file.write(chunk.constData(), std::min<qint64>(chunk.size(), copyBytes - at));
    }
}

template <typename T> T wait(QCoro::Task<T> task) {
    QEventLoop loop;
    std::optional<T> value;
    std::exception_ptr error;
    auto runner = [&](QCoro::Task<T> inner) -> QCoro::Task<> {
        try {
            value.emplace(co_await std::move(inner));
        } catch (...) {
            error = std::current_exception();
        }
        loop.quit();
    };
    auto running = runner(std::move(task));
    if (!value && !error)
        loop.exec();
    if (error)
        std::rethrow_exception(error);
    return *value;
}

Sharing::Services tools(Library& library) {
    Sharing::Services tools = Sharing::Services::standard(library);
    tools.render = [](QString source, QString target, Clips::ExportOptions,
                      std::function<void(double)>) -> QCoro::Task<> {
        if (!QFile::copy(source, target))
            throw std::runtime_error("cannot copy the upload copy");
        co_return;
    };
    tools.thumbnail = [](QString, double, double) -> QCoro::Task<std::optional<QByteArray>> {
        co_return std::nullopt;
    };
    tools.facts = [](QString) -> QCoro::Task<VideoFacts> {
        co_return VideoFacts{1920, 1080, 60};
    };
    return tools;
}

} // namespace

int main(int argc, char** argv) {
    QTemporaryDir home;
    for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "TMPDIR"})
        qputenv(name, (home.path() + u'/' + QString::fromLatin1(name)).toUtf8());
    for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "TMPDIR"})
        QDir().mkpath(qEnvironmentVariable(name));
    QCoreApplication app(argc, argv);
    Keychain::force(Keychain::Backend::file);

    QProcess service;
    service.start(QCoreApplication::applicationDirPath() + QStringLiteral("/vantel-test-service"),
                  {"--part-size", QString::number(partBytes), "--token", "bench-token"});
    if (!service.waitForReadyRead(10000)) {
        std::fprintf(stderr, "vantel-test-service did not start\n");
        return 1;
    }
    const QByteArray port = service.readLine().mid(6).trimmed();
    overrideSiteURL({QStringLiteral("http://127.0.0.1:%1/").arg(QString::fromLatin1(port)),
                     QStringLiteral("the benchmark")});

    const QString folder = home.path() + QStringLiteral("/Clips");
    QDir().mkpath(folder + QStringLiteral("/Game"));
    const QString source = folder + QStringLiteral("/Game/big.mp4");
    writeSource(source);
    Library library({[folder] { return folder; }, home.path() + QStringLiteral("/support")});
    library.add(source, ClipMeta{"Big", "Game", QDateTime::currentDateTimeUtc(), 60, 1920, 1080});
    wait(Keychain::set("token", "bench-token").then([] { return true; }));

    resetPeak();
    const double baseline = statusMb("VmRSS:");
    QElapsedTimer timer;
    timer.start();
    Clip clip{source, {"Big", "Game", {}, 60.0, 1920, 1080}};
    auto progress = [](const QString& label, double f) {
        if (qEnvironmentVariableIsSet("BENCH_TRACE"))
            std::printf("%s %.3f rss %.1f\n", qPrintable(label), f, statusMb("VmRSS:"));
    };
    QString link = wait(Sharing::share(clip, {}, "Big", progress, tools(library)));
    const double seconds = timer.elapsed() / 1000.0;
    const double peak = statusMb("VmHWM:");
    service.kill();
    service.waitForFinished();

    std::printf("link: %s\n", qPrintable(link));
    std::printf("part_mb: %.1f\n", partBytes / 1e6);
    std::printf("baseline_rss_mb: %.1f\n", baseline);
    std::printf("peak_rss_mb: %.1f\n", peak);
    std::printf("peak_over_baseline_parts: %.2f\n", (peak - baseline) * 1048576.0 / partBytes);
    std::printf("upload_mb_per_s: %.1f\n", copyBytes / 1e6 / seconds);
    return 0;
}
