#pragma once

// The real program as the end-to-end tests start it: a home of its own (settings, data, cache,
// runtime folder, clips), the program as a child process on the session's display, its command
// line, our StatusNotifierWatcher (sni.py) that reads and clicks its tray menu, and checks of the
// clip files it writes. The test target defines VANTEL_PROGRAM and VANTEL_SNI_SCRIPT.

#include "E2eSupport.h"
#include "common/Screenshots.h"
#include "common/TestEnv.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QUuid>
#include <chrono>
#include <filesystem>

namespace vantel::e2e::program {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

struct Outcome {
    int status = -1;
    QString out, err;
};

// A home of its own for each program: settings, data, cache, runtime folder and clips.
struct Home {
    fs::path root = test::testHome() /
                    ("home-" + QUuid::createUuid().toString(QUuid::Id128).left(8).toStdString());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();

    Home() {
        for (const char* sub : {"config/vantel-record", "data", "cache", "run", "clips", "tmp"})
            fs::create_directories(root / sub);
        fs::permissions(root / "run", fs::perms::owner_all);
        env.insert("HOME", path(""));
        env.insert("XDG_CONFIG_HOME", path("config"));
        env.insert("XDG_DATA_HOME", path("data"));
        env.insert("XDG_CACHE_HOME", path("cache"));
        env.insert("XDG_RUNTIME_DIR", path("run"));
        env.insert("TMPDIR", path("tmp"));
        env.insert("VANTEL_TOAST_LOG", path("toasts.log"));
        env.insert("VANTEL_SITE_URL", "http://127.0.0.1:1/");
        env.insert("NO_AT_BRIDGE", "1");
    }
    QString path(const char* sub) const { return QString::fromStdString((root / sub).string()); }

    // Settings for an onboarded user recording the desktop at 720p30.
    void onboard(int bufferSeconds, const QString& extra = {}) {
        settings(QStringLiteral("onboarded=true\nmode=always\nfps=30\nmaxHeight=720\n"
                                "bufferSeconds=%1\nfolder=%2\n%3")
                     .arg(bufferSeconds)
                     .arg(path("clips"), extra));
    }
    void settings(const QString& body) {
        test::writeFile(root / "config/vantel-record/settings.ini",
                        ("[General]\n" + body).toStdString());
    }
    QString settingsText() const {
        QFile f(path("config/vantel-record/settings.ini"));
        f.open(QIODevice::ReadOnly);
        return QString::fromUtf8(f.readAll());
    }
    QStringList toasts() const {
        QFile f(path("toasts.log"));
        if (!f.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
    }
    int countFiles(const char* sub, const QString& prefix) const {
        int n = 0;
        std::error_code ec;
        for (const auto& e : fs::recursive_directory_iterator(root / sub, ec))
            n += QString::fromStdString(e.path().filename().string()).startsWith(prefix);
        return n;
    }
    int runFolders() const { return countFiles("cache", "vantel-record-"); }
    QStringList clips() const {
        QStringList out;
        std::error_code ec;
        for (const auto& e : fs::recursive_directory_iterator(root / "clips", ec))
            if (e.path().extension() == ".mp4")
                out << QString::fromStdString(e.path().string());
        out.sort();
        return out;
    }

    Outcome cli(const QStringList& arguments) const {
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(VANTEL_PROGRAM), arguments);
        p.waitForFinished(60000);
        return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()),
                QString::fromUtf8(p.readAllStandardError())};
    }
    QStringList status() const { return cli({"status"}).out.split('\n', Qt::SkipEmptyParts); }
    bool waitForStatus(const QString& first, std::chrono::milliseconds limit = 30s) const {
        return waitUntil([&] { return status().value(0) == first; }, limit);
    }
    // Waits until the buffer holds at least `seconds`.
    bool waitForReady(int seconds) const {
        return waitUntil(
            [&] {
                const QString ready = status().value(1);
                return ready.contains(" s ready") && ready.section(' ', 0, 0).toInt() >= seconds;
            },
            60s);
    }
};

// The program, ended when the test ends.
class Program {
public:
    explicit Program(const Home& home) {
        m_process.setProcessEnvironment(home.env);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.setStandardOutputFile(QProcess::nullDevice());
        m_process.start(QStringLiteral(VANTEL_PROGRAM), {});
        m_process.waitForStarted();
    }
    ~Program() {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(10000))
            m_process.kill();
        m_process.waitForFinished(5000);
    }
    // Sends SIGTERM; the milliseconds until the process ended (-1: still running after 10 s).
    qint64 terminate() {
        QElapsedTimer clock;
        clock.start();
        m_process.terminate();
        return waitForExit(clock);
    }
    qint64 waitForExit(QElapsedTimer clock) {
        if (!m_process.waitForFinished(10000))
            return -1;
        return clock.elapsed();
    }
    // SIGKILL, as a crash ends it: nothing of the program runs any more.
    void kill() {
        m_process.kill();
        m_process.waitForFinished(10000);
    }
    int exitCode() const { return m_process.exitCode(); }
    bool running() const { return m_process.state() != QProcess::NotRunning; }

private:
    QProcess m_process;
};

inline const QString kSni = QStringLiteral(VANTEL_SNI_SCRIPT);

// Our StatusNotifierWatcher on the session bus; started before the program, so that Qt picks
// the StatusNotifierItem tray.
class Watcher {
public:
    Watcher() {
        m_process.start("/usr/bin/python3", {kSni, "watch"});
        waitUntil([&] { return read().contains("READY"); }, 10s);
    }
    ~Watcher() {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
    // The bus name of the newest item.
    QString item() {
        waitUntil([&] { return read().contains("ITEM "); }, 20s);
        const QStringList lines = m_seen.split('\n', Qt::SkipEmptyParts).filter("ITEM ");
        return lines.isEmpty() ? QString() : lines.last().section(' ', 1, 1);
    }
    void forget() { m_seen.clear(); }

    QStringList menu(const QString& bus) {
        return QString::fromUtf8(runTool("/usr/bin/python3", {kSni, "menu", bus}))
            .split('\n', Qt::SkipEmptyParts);
    }
    bool click(const QString& bus, const QString& label) {
        QProcess p;
        p.start("/usr/bin/python3", {kSni, "click", bus, label});
        return p.waitForFinished(10000) && p.exitCode() == 0;
    }

private:
    const QString& read() {
        m_process.waitForReadyRead(100);
        m_seen += QString::fromUtf8(m_process.readAllStandardOutput());
        return m_seen;
    }
    QProcess m_process;
    QString m_seen;
};

// The clip's shown length (the saved file starts at 0, with an edit list for the cut).
inline double clipSeconds(const QString& path) {
    return QString::fromUtf8(runTool("ffprobe", {"-v", "error", "-show_entries", "format=duration",
                                                 "-of", "default=nw=1:nk=1", path}))
        .trimmed()
        .toDouble();
}

// What ffmpeg reports decoding every frame of every stream at the clip's own rate: damaged
// packets, and frames that share a slot of the frame rate (a capture catching up).
inline QString decodeErrors(const QString& path) {
    QByteArray errors;
    runTool("ffmpeg", {"-v", "error", "-i", path, "-f", "null", "-"}, &errors);
    return QString::fromUtf8(errors).trimmed();
}

inline void screenshot(const QString& name, const QString& window = "root",
                       const QString& crop = {}) {
    const QString file = test::screenshotDir() + "/" + name + ".png";
    QStringList arguments{"-window", window};
    if (!crop.isEmpty())
        arguments << "-crop" << crop;
    runTool("import", arguments << file);
}

} // namespace vantel::e2e::program
