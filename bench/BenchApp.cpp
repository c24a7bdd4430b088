// The whole program at work: vantel-record recording the desktop at 1280x720, 30 fps, with the
// system sound, for 60 s, against the ffmpeg command-line tool capturing the same screen and
// sound with the same encoder settings for the same time, one after the other in the same run.
// Meanwhile an animated window fills the screen and a tone plays into the default sink.
//
// Prints: cpu_seconds (the program, all threads, over the measured window), ffmpeg_cpu_seconds,
// cpu_ratio (program / ffmpeg), rss_mb (the program's peak resident memory, VmHWM),
// dropped_frames (frames missing from a clip of the whole measured minute, saved through
// "vantel-record save"), ffmpeg_dropped_frames and ffmpeg_duplicated_frames (a reference that
// repeats frames encodes less than it claims), load_before (the 1-minute load average), and
// thread_cpu_seconds per thread name (threads take their creator's name unless they set one).
//
// Usage (needs a display and a sound server):
//   tests/e2e/session.sh build/bin/bench-app [--seconds N]

#include "FfmpegReference.h"
#include "engine/ReplayBuffer.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace {

constexpr int kFps = 30;
constexpr int kWidth = 1280;
constexpr int kHeight = 720;

QString run(const QString& program, const QStringList& arguments,
            const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment()) {
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(program, arguments);
    p.waitForFinished(180000);
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

// User plus system time, in seconds, from a /proc stat file.
double statCpu(const QString& path) {
    QFile stat(path);
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QString text = QString::fromUtf8(stat.readAll());
    const QStringList fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    return (fields.value(11).toDouble() + fields.value(12).toDouble()) / sysconf(_SC_CLK_TCK);
}

// CPU seconds per thread name, summed over threads that share a name.
QMap<QString, double> threadCpu(qint64 pid) {
    QMap<QString, double> spent;
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    for (const QString& tid : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks.filePath(tid + "/comm"));
        comm.open(QIODevice::ReadOnly);
        spent[QString::fromUtf8(comm.readAll()).trimmed()] +=
            statCpu(tasks.filePath(tid + "/stat"));
    }
    return spent;
}

double processCpu(qint64 pid) {
    return statCpu(QStringLiteral("/proc/%1/stat").arg(pid));
}

double peakRssMb(qint64 pid) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    status.open(QIODevice::ReadOnly);
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return -1;
}

QString loadAverage() {
    QFile load("/proc/loadavg");
    load.open(QIODevice::ReadOnly);
    return QString::fromUtf8(load.readAll()).section(' ', 0, 0);
}

int videoPackets(const QString& file) {
    return run("ffprobe", {"-v", "error", "-select_streams", "v:0", "-count_packets",
                           "-show_entries", "stream=nb_read_packets", "-of", "csv=p=0", file})
        .toInt();
}

struct Home {
    QTemporaryDir dir;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();

    explicit Home(int seconds) {
        for (const char* sub : {"config/vantel-record", "data", "cache", "run", "clips"})
            QDir().mkpath(dir.filePath(sub));
        QFile::setPermissions(dir.filePath("run"),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QFile ini(dir.filePath("config/vantel-record/settings.ini"));
        ini.open(QIODevice::WriteOnly);
        ini.write(QStringLiteral("[General]\nonboarded=true\nmode=always\nfps=%1\nmaxHeight=%2\n"
                                 "bufferSeconds=%3\nquality=high\ncodec=h264\nfolder=%4\n")
                      .arg(kFps)
                      .arg(kHeight)
                      .arg(seconds)
                      .arg(dir.filePath("clips"))
                      .toUtf8());
        env.insert("XDG_CONFIG_HOME", dir.filePath("config"));
        env.insert("XDG_DATA_HOME", dir.filePath("data"));
        env.insert("XDG_CACHE_HOME", dir.filePath("cache"));
        env.insert("XDG_RUNTIME_DIR", dir.filePath("run"));
        env.insert("VANTEL_SITE_URL", "http://127.0.0.1:1/");
    }
    QString cli(const QStringList& arguments) {
        return run(QStringLiteral(VANTEL_PROGRAM), arguments, env);
    }
};

struct Figures {
    double cpu = -1, rss = -1;
    int dropped = -1;
    QMap<QString, double> threads;
};

Figures measureProgram(int seconds) {
    Home home(seconds);
    QProcess program;
    program.setProcessEnvironment(home.env);
    program.setStandardOutputFile(QProcess::nullDevice());
    program.setStandardErrorFile(QProcess::nullDevice());
    program.start(QStringLiteral(VANTEL_PROGRAM), {});
    QElapsedTimer clock;
    clock.start();
    while (!home.cli({"status"}).startsWith("Recording Desktop") && clock.elapsed() < 30000)
        QThread::msleep(200);
    QThread::sleep(2); // the encoder's start-up is not part of the steady state
    Figures f;
    const double cpu0 = processCpu(program.processId());
    const QMap<QString, double> threads0 = threadCpu(program.processId());
    QThread::sleep(seconds);
    f.cpu = processCpu(program.processId()) - cpu0;
    f.threads = threadCpu(program.processId());
    for (auto it = threads0.begin(); it != threads0.end(); ++it)
        f.threads[it.key()] -= it.value();
    f.rss = peakRssMb(program.processId());
    const QString clip = home.cli({"save", QString::number(seconds)});
    const int packets = clip.isEmpty() ? 0 : videoPackets(clip);
    f.dropped = std::max(0, seconds * kFps - packets);
    if (clip.isEmpty())
        std::fprintf(stderr, "the program saved no clip\n");
    program.terminate();
    program.waitForFinished(10000);
    return f;
}

struct FfmpegFigures {
    double cpu = -1;
    vantel::bench::FfmpegStats stats;
};

FfmpegFigures measureFfmpeg(int seconds) {
    QTemporaryDir dir;
    vantel::bench::ReferenceCapture capture;
    capture.display = qEnvironmentVariable("DISPLAY").toStdString();
    capture.width = kWidth;
    capture.height = kHeight;
    capture.fps = kFps;
    capture.bitRate = vantel::ReplayBuffer::encoderBitRate(
        kWidth, kHeight, kFps, vantel::Quality::high, vantel::Codec::h264);
    capture.seconds = seconds;
    capture.output = dir.filePath("ffmpeg.mp4").toStdString();
    QStringList arguments;
    for (const std::string& a : vantel::bench::ffmpegCaptureArguments(capture))
        arguments << QString::fromStdString(a);
    QProcess ffmpeg;
    ffmpeg.setProcessChannelMode(QProcess::MergedChannels);
    // time(1) reports the CPU time of ffmpeg and its threads when it ends.
    const QString times = dir.filePath("times");
    ffmpeg.start("/usr/bin/time", QStringList{"-f", "%U %S", "-o", times, "ffmpeg"} + arguments);
    ffmpeg.waitForFinished(seconds * 1000 + 60000);
    FfmpegFigures f;
    QFile timesFile(times);
    timesFile.open(QIODevice::ReadOnly);
    const QStringList spent = QString::fromUtf8(timesFile.readAll()).trimmed().split(' ');
    f.cpu = spent.size() == 2 ? spent[0].toDouble() + spent[1].toDouble() : -1;
    f.stats = vantel::bench::parseFfmpegStats(ffmpeg.readAll().toStdString());
    return f;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int seconds = 60;
    const QStringList args = app.arguments();
    if (const int i = args.indexOf("--seconds"); i > 0 && i + 1 < args.size())
        seconds = args[i + 1].toInt();
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::fprintf(stderr, "bench-app needs a display: run it inside tests/e2e/session.sh\n");
        return 1;
    }
    std::printf("load_before: %s\n", qPrintable(loadAverage()));
    QProcess animation;
    animation.start(QStringLiteral(VANTEL_TEST_GAME),
                    {"--app-id", "bench-animation", "--title", "Animation", "--x", "0", "--y", "0",
                     "--width", QString::number(kWidth), "--height", QString::number(kHeight)});
    QProcess tone; // a pipeline in a process group of its own, so that it ends whole
    tone.setChildProcessModifier([] { setpgid(0, 0); });
    tone.start("sh", {"-c", QString::fromStdString(vantel::bench::toneCommand(3 * seconds + 60))});
    QThread::sleep(2);
    const Figures ours = measureProgram(seconds);
    const FfmpegFigures theirs = measureFfmpeg(seconds);
    ::kill(-pid_t(tone.processId()), SIGTERM);
    animation.kill();
    tone.waitForFinished();
    animation.waitForFinished();
    std::printf("seconds: %d\n", seconds);
    std::printf("cpu_seconds: %.2f\n", ours.cpu);
    std::printf("ffmpeg_cpu_seconds: %.2f\n", theirs.cpu);
    std::printf("cpu_ratio: %.2f\n", theirs.cpu > 0 ? ours.cpu / theirs.cpu : -1.0);
    std::printf("rss_mb: %.1f\n", ours.rss);
    std::printf("dropped_frames: %d\n", ours.dropped);
    std::printf("ffmpeg_dropped_frames: %lld\n", (long long)theirs.stats.dropped);
    std::printf("ffmpeg_duplicated_frames: %lld\n", (long long)theirs.stats.duplicated);
    for (auto it = ours.threads.begin(); it != ours.threads.end(); ++it)
        if (it.value() >= 0.05)
            std::printf("thread_cpu_seconds %s: %.2f\n", qPrintable(it.key()), it.value());
    return 0;
}
