// The sharing service on this machine: vantel-share in its embedded default (SQLite and clip
// files under --data), run as its own process on loopback, against tools doing the same work
// in the same run.
//
// upload_ratio: time to upload a 200 MB MP4 in 8 MiB parts and complete it ("done": join and
//   check) until its bytes are on the disk (syncfs), over the time of dd writing the same bytes
//   to the same disk with conv=fsync. Target: at most 1.3.
// serve_ratio: time of 400 range reads of 2 MiB at random places of the MP4 from /c/<id>.mp4,
//   over nginx serving the same bytes (dd's copy) with sendfile (started here on a loopback port
//   with a configuration of its own in a temporary folder). Target: at most 1.25.
// baseline_rss_mb / peak_rss_mb: the server's resident memory before the upload and its peak
//   during it. Target: baseline plus at most two parts (part_mb).
// p99_first_byte_ms: 64 readers at once, each making 16 range requests of 64 KiB on fresh
//   connections; the 99th percentile of the time to the answer's headers (nginx's for
//   reference). A bounded load: 1024 requests, then it stops.
// s3_*: the same upload and range reads with the catalog on a throw-away PostgreSQL cluster and
//   the files in the S3 stand-in (npm's s3rver, in node on this machine): the scaled set-up's
//   figures, against the same dd and nginx times.

#include "PgCluster.h"
#include "S3Standin.h"
#include "ServerProcess.h"
#include "server/Catalog.h"
#include "server/Ids.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <httplib.h>
#include <random>
#include <thread>
#include <unistd.h>

using namespace vantel;

namespace {

constexpr int64_t kPartSize = 8 * 1024 * 1024;
constexpr int64_t kClipBytes = 200'000'000;
constexpr int kRangeReads = 400;
constexpr int64_t kRangeBytes = 2 * 1024 * 1024;
constexpr int kReaders = 64;
constexpr int kRequestsPerReader = 16;

double seconds(const QElapsedTimer& timer) {
    return double(timer.nsecsElapsed()) / 1e9;
}

void check(bool ok, const QString& what) {
    if (!ok)
        throw std::runtime_error(what.toStdString());
}

// A 200 MB H.264 MP4: lossless noise, cut at the size.
QString makeClip(const QString& dir) {
    const QString path = dir + "/clip.mp4";
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg", {"-v",
                            "error",
                            "-y",
                            "-f",
                            "lavfi",
                            "-i",
                            "testsrc2=size=1280x720:rate=30",
                            "-t",
                            "120",
                            "-vf",
                            "noise=alls=30:allf=t",
                            "-c:v",
                            "libx264",
                            "-preset",
                            "ultrafast",
                            "-qp",
                            "0",
                            "-fs",
                            QString::number(kClipBytes),
                            "-movflags",
                            "+faststart",
                            path});
    ffmpeg.waitForFinished(600000);
    check(QFileInfo(path).size() > kClipBytes / 2,
          "ffmpeg made no clip: " + QString::fromLocal8Bit(ffmpeg.readAllStandardError()));
    return path;
}

double memoryMb(qint64 pid, const char* field) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(qstrlen(field)).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return -1;
}

void resetPeak(qint64 pid) {
    QFile clear(QStringLiteral("/proc/%1/clear_refs").arg(pid));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

void syncDisk(const QString& path) {
    QProcess::execute("sync", {"-f", path});
}

struct Upload {
    double seconds = 0;
    double doneSeconds = 0;
    double syncSeconds = 0;
    QString id;
};

Upload upload(int port, const QString& file) {
    QFile clip(file);
    check(clip.open(QIODevice::ReadOnly), "cannot read " + file);
    httplib::Client http("127.0.0.1", port);
    http.set_read_timeout(300);
    const httplib::Headers auth{{"Authorization", "Bearer bench-token"}};
    QElapsedTimer timer;
    timer.start();
    const QJsonObject ask{{"title", "Bench"}, {"game", "Bench"}, {"duration", 60.0},
                          {"width", 1280},    {"height", 720},   {"size", clip.size()},
                          {"preview", false}};
    auto created = http.Post("/api/clips", auth, QJsonDocument(ask).toJson().toStdString(),
                             "application/json");
    check(created && created->status == 201,
          "the clip was not created: " +
              QString::fromStdString(created ? created->body : to_string(created.error())));
    const QString id = QJsonDocument::fromJson(QByteArray::fromStdString(created->body))
                           .object()
                           .value("id")
                           .toString();
    const int64_t parts = (clip.size() + kPartSize - 1) / kPartSize;
    for (int64_t n = 1; n <= parts; ++n) {
        const QByteArray part = clip.read(kPartSize);
        auto sent = http.Put(QStringLiteral("/api/clips/%1/video/%2").arg(id).arg(n).toStdString(),
                             auth, part.constData(), size_t(part.size()), "video/mp4");
        check(sent && sent->status == 200, QStringLiteral("part %1 was refused").arg(n));
    }
    QElapsedTimer doneTimer;
    doneTimer.start();
    auto done =
        http.Post(("/api/clips/" + id + "/done").toStdString(), auth,
                  QStringLiteral("{\"parts\": %1}").arg(parts).toStdString(), "application/json");
    check(done && done->status == 200,
          "done was refused: " + QString::fromStdString(done ? done->body : "no answer"));
    return {seconds(timer), seconds(doneTimer), 0, id};
}

double ddSeconds(const QString& file, const QString& target) {
    QElapsedTimer timer;
    timer.start();
    QProcess dd;
    dd.start("dd", {"if=" + file, "of=" + target, "bs=8M", "conv=fsync", "status=none"});
    dd.waitForFinished(600000);
    check(dd.exitCode() == 0, "dd failed");
    return seconds(timer);
}

int freePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// nginx serving `root` with sendfile on a loopback port, in the foreground of its own process.
class Nginx {
public:
    Nginx(const QString& dir, const QString& root)
        : m_port(freePort()) {
        QDir().mkpath(dir + "/temp");
        QFile conf(dir + "/nginx.conf");
        check(conf.open(QIODevice::WriteOnly), "cannot write nginx.conf");
        conf.write(QStringLiteral("%4daemon off;\nworker_processes 2;\npid %1/nginx.pid;\n"
                                  "error_log %1/error.log;\nevents { worker_connections 1024; }\n"
                                  "http {\n  access_log off;\n  sendfile on;\n  tcp_nopush on;\n"
                                  "  default_type video/mp4;\n  client_body_temp_path %1/temp;\n"
                                  "  proxy_temp_path %1/temp;\n  fastcgi_temp_path %1/temp;\n"
                                  "  uwsgi_temp_path %1/temp;\n  scgi_temp_path %1/temp;\n"
                                  "  server { listen 127.0.0.1:%2; root %3; }\n}\n")
                       .arg(dir)
                       .arg(m_port)
                       .arg(root)
                       // As root its workers would be "nobody", shut out of the work folder.
                       .arg(geteuid() == 0 ? "user root;\n" : "")
                       .toUtf8());
        conf.close();
        m_process.start("nginx", {"-e", dir + "/error.log", "-p", dir, "-c", dir + "/nginx.conf"});
        for (int i = 0; i < 100; ++i) {
            httplib::Client probe("127.0.0.1", m_port);
            if (probe.Head("/"))
                return;
            QThread::msleep(50);
        }
        throw std::runtime_error("nginx did not start");
    }
    ~Nginx() {
        m_process.terminate();
        m_process.waitForFinished(5000);
    }
    int port() const { return m_port; }

private:
    int m_port;
    QProcess m_process;
};

double rangeReads(int port, const std::string& path, int64_t size) {
    httplib::Client http("127.0.0.1", port);
    std::mt19937_64 random(7);
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < kRangeReads; ++i) {
        const int64_t first = int64_t(random() % uint64_t(size - kRangeBytes));
        auto got = http.Get(path, {{"Range", "bytes=" + std::to_string(first) + "-" +
                                                 std::to_string(first + kRangeBytes - 1)}});
        check(got && got->status == 206 && int64_t(got->body.size()) == kRangeBytes,
              QStringLiteral("a range read on port %1 failed: %2")
                  .arg(port)
                  .arg(got ? got->status : -1));
    }
    return seconds(timer);
}

double p99FirstByteMs(int port, const std::string& path, int64_t size) {
    std::vector<double> times(kReaders * kRequestsPerReader, -1);
    std::vector<std::thread> readers;
    for (int r = 0; r < kReaders; ++r)
        readers.emplace_back([&, r] {
            std::mt19937_64 random(uint64_t(r) + 1);
            for (int i = 0; i < kRequestsPerReader; ++i) {
                httplib::Client http("127.0.0.1", port);
                http.set_keep_alive(false);
                const int64_t first = int64_t(random() % uint64_t(size - 65536));
                const auto start = std::chrono::steady_clock::now();
                double ms = -1;
                http.Get(
                    path,
                    {{"Range",
                      "bytes=" + std::to_string(first) + "-" + std::to_string(first + 65535)}},
                    [&](const httplib::Response&) {
                        ms = std::chrono::duration<double, std::milli>(
                                 std::chrono::steady_clock::now() - start)
                                 .count();
                        return true;
                    },
                    [](const char*, size_t) { return true; });
                times[size_t(r * kRequestsPerReader + i)] = ms;
            }
        });
    for (std::thread& reader : readers)
        reader.join();
    check(std::none_of(times.begin(), times.end(), [](double t) { return t < 0; }),
          "a reader got no answer");
    std::sort(times.begin(), times.end());
    return times[size_t(double(times.size()) * 0.99)];
}

// The size of the clip's video inside the disk store, where it stays in its uploaded parts.
int64_t storedVideoBytes(const QString& dataDir, const QString& id) {
    const QDir folder(QStringLiteral("%1/blobs/%2/%3/video").arg(dataDir, id.left(2), id));
    int64_t bytes = 0;
    for (const QFileInfo& part : folder.entryInfoList(QDir::Files))
        if (part.fileName() != QLatin1String("index"))
            bytes += part.size();
    return bytes;
}

int measure(test::ServerProcess& share, const QString& clip, const QString& workDir);
void measureS3(const QString& clip, const QString& workDir, double dd, double nginxReads);

int runBench() {
    QTemporaryDir work(QDir::currentPath() + "/bench-share-server-XXXXXX");
    check(work.isValid(), "cannot make a work folder in the current folder");
    const QString clip = makeClip(work.path());
    const QString data = work.path() + "/data";

    server::ServerConfig config;
    config.dataDir = data;
    {
        server::Catalog catalog(config.database, data);
        const server::UserRecord user = catalog.signInInvitedUser("Bench", 1);
        catalog.addToken(server::sha256Hex("bench-token"), user.id, 1);
    }
    test::ServerProcess share(
        VANTEL_SHARE_PROGRAM,
        {"--data", data, "--part-size", QString::number(kPartSize), "--threads", "80"});

    try {
        return measure(share, clip, work.path());
    } catch (const std::exception&) {
        std::fprintf(stderr, "%s", qPrintable(share.log()));
        throw;
    }
}

int measure(test::ServerProcess& share, const QString& clip, const QString& workDir) {
    const int64_t clipSize = QFileInfo(clip).size();
    const QString data = workDir + "/data";
    QThread::msleep(300);
    resetPeak(share.pid());
    const double baseline = memoryMb(share.pid(), "VmRSS:");
    const Upload sent = [&] {
        Upload result = upload(share.port(), clip);
        QElapsedTimer flush;
        flush.start();
        syncDisk(data);
        result.syncSeconds = seconds(flush);
        result.seconds += result.syncSeconds;
        return result;
    }();
    const double peak = memoryMb(share.pid(), "VmHWM:");
    // dd's copy on the same disk is the file nginx serves.
    const QString nginxRoot = workDir + "/nginx-root";
    QDir().mkpath(nginxRoot);
    const double dd = ddSeconds(clip, nginxRoot + "/video.mp4");

    check(storedVideoBytes(data, sent.id) == clipSize, "the stored video is not whole");
    Nginx nginx(workDir + "/nginx", nginxRoot);
    const std::string served = ("/c/" + sent.id + ".mp4").toStdString();
    rangeReads(share.port(), served, clipSize); // warm both caches alike
    rangeReads(nginx.port(), "/video.mp4", clipSize);
    const double shareReads = rangeReads(share.port(), served, clipSize);
    const double nginxReads = rangeReads(nginx.port(), "/video.mp4", clipSize);
    const double p99 = p99FirstByteMs(share.port(), served, clipSize);
    const double nginxP99 = p99FirstByteMs(nginx.port(), "/video.mp4", clipSize);

    std::printf("clip_mb: %.1f\n", double(clipSize) / 1e6);
    std::printf("part_mb: %.1f\n", double(kPartSize) / 1024 / 1024);
    std::printf("upload_s: %.3f\n", sent.seconds);
    std::printf("done_s: %.3f\n", sent.doneSeconds);
    std::printf("sync_s: %.3f\n", sent.syncSeconds);
    std::printf("dd_s: %.3f\n", dd);
    std::printf("upload_ratio: %.2f\n", sent.seconds / dd);
    std::printf("serve_s: %.3f\n", shareReads);
    std::printf("nginx_serve_s: %.3f\n", nginxReads);
    std::printf("serve_ratio: %.2f\n", shareReads / nginxReads);
    std::printf("baseline_rss_mb: %.1f\n", baseline);
    std::printf("peak_rss_mb: %.1f\n", peak);
    std::printf("p99_first_byte_ms: %.2f\n", p99);
    std::printf("nginx_p99_first_byte_ms: %.2f\n", nginxP99);
    std::fflush(stdout);
    measureS3(clip, workDir, dd, nginxReads);
    return 0;
}

// The same upload and range reads with the catalog on PostgreSQL and the files in the S3
// stand-in (node, on this machine too): figures for the scaled set-up, no targets of their own.
void measureS3(const QString& clip, const QString& workDir, double dd, double nginxReads) {
    const int64_t clipSize = QFileInfo(clip).size();
    test::PgCluster cluster;
    test::S3Standin s3;
    const QString database = cluster.url(cluster.createDatabase("bench"));
    {
        server::Catalog catalog(server::DatabaseConfig{database}, QString());
        const server::UserRecord user = catalog.signInInvitedUser("Bench", 1);
        catalog.addToken(server::sha256Hex("bench-token"), user.id, 1);
    }
    test::ServerProcess share(VANTEL_SHARE_PROGRAM,
                              {"--data", workDir + "/data-s3", "--part-size",
                               QString::number(kPartSize), "--threads", "80", "--database",
                               database, "--s3-endpoint", s3.endpoint(), "--s3-bucket", "clips",
                               "--s3-access-key", "S3RVER", "--s3-secret-key", "S3RVER"});
    QThread::msleep(300);
    resetPeak(share.pid());
    const double baseline = memoryMb(share.pid(), "VmRSS:");
    const Upload sent = upload(share.port(), clip);
    const double peak = memoryMb(share.pid(), "VmHWM:");
    const std::string served = ("/c/" + sent.id + ".mp4").toStdString();
    const double reads = rangeReads(share.port(), served, clipSize);
    std::printf("s3_upload_s: %.3f\n", sent.seconds);
    std::printf("s3_upload_ratio: %.2f\n", sent.seconds / dd);
    std::printf("s3_serve_ratio: %.2f\n", reads / nginxReads);
    std::printf("s3_baseline_rss_mb: %.1f\n", baseline);
    std::printf("s3_peak_rss_mb: %.1f\n", peak);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    try {
        return runBench();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench-share-server: %s\n", error.what());
        return 1;
    }
}
