#include "E2eSupport.h"

#include "common/TestEnv.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <cmath>
#include <cstring>
#include <fstream>
#include <numbers>
#include <pwd.h>
#include <stdexcept>
#include <unistd.h>

namespace vantel::e2e {

Child::Child(const QString& program, const QStringList& arguments,
             const QProcessEnvironment& environment)
    : m_process(std::make_unique<QProcess>()) {
    m_process->setProcessEnvironment(environment);
    m_process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process->setStandardOutputFile(QProcess::nullDevice());
    m_process->start(program, arguments);
    if (!m_process->waitForStarted(5000))
        throw std::runtime_error("could not start " + program.toStdString());
}

Child::~Child() {
    if (m_process)
        stop();
}

void Child::send(const QByteArray& line) {
    m_process->write(line + "\n");
    m_process->waitForBytesWritten(1000);
}

void Child::stop() {
    if (m_process->state() == QProcess::NotRunning)
        return;
    m_process->terminate();
    if (!m_process->waitForFinished(3000)) {
        m_process->kill();
        m_process->waitForFinished(3000);
    }
}

Child startGame(const QStringList& arguments) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "xcb");
    return Child(VANTEL_TEST_GAME, arguments, env);
}

Child startWaylandGame(const QStringList& arguments) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "wayland");
    env.remove("DISPLAY");
    return Child(VANTEL_TEST_GAME, arguments, env);
}

Child startXwaylandGame(const QStringList& arguments) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "xcb");
    env.insert("DISPLAY", xwaylandDisplay());
    return Child(VANTEL_TEST_GAME, arguments, env);
}

QString xwaylandDisplay() {
    static QString display;
    if (!display.isEmpty())
        return display;
    // sway-ipc.<uid>.<pid>.sock; the X lock file of sway's Xwayland holds sway's pid.
    const QString sway = qEnvironmentVariable("SWAYSOCK").section('.', -2, -2);
    for (int n = 0; n < 64 && display.isEmpty(); ++n) {
        QFile lock(QStringLiteral("/tmp/.X%1-lock").arg(n));
        if (lock.open(QIODevice::ReadOnly) &&
            QString::fromLatin1(lock.readAll()).remove(QChar(0)).trimmed() == sway)
            display = QStringLiteral(":%1").arg(n);
    }
    if (display.isEmpty())
        return display;
    // The first X client starts Xwayland: this one, run by sway as its own user, lets us in.
    const passwd* me = getpwuid(getuid());
    runTool("swaymsg", {"exec", QStringLiteral("xhost +si:localuser:") +
                                    QString::fromLocal8Bit(me ? me->pw_name : "root")});
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", display);
    const bool open = waitUntil(
        [&] {
            QProcess probe;
            probe.setProcessEnvironment(env);
            probe.start("xdpyinfo", {});
            probe.waitForFinished(5000);
            return probe.exitStatus() == QProcess::NormalExit && probe.exitCode() == 0;
        },
        std::chrono::seconds(20));
    if (!open)
        display.clear();
    return display;
}

Child playTone(const QString& sink, int hz, int seconds) {
    const std::filesystem::path wav =
        test::testHome() / "tmp" / ("tone-" + std::to_string(hz) + ".wav");
    QByteArray errors;
    runTool("sox",
            {"-n", "-r", "48000", "-c", "2", "-b", "16", QString::fromStdString(wav), "synth",
             QString::number(seconds), "sine", QString::number(hz), "vol", "0.5"},
            &errors);
    if (!std::filesystem::exists(wav))
        throw std::runtime_error("sox could not make a tone: " + errors.toStdString());
    return Child("paplay", {"--device=" + sink, QString::fromStdString(wav)});
}

bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < limit.count()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return done();
}

QByteArray runTool(const QString& program, const QStringList& arguments, QByteArray* errors) {
    QProcess tool;
    tool.start(program, arguments);
    tool.closeWriteChannel();
    if (!tool.waitForFinished(120000)) {
        tool.kill();
        tool.waitForFinished();
    }
    if (errors)
        *errors = tool.readAllStandardError();
    return tool.readAllStandardOutput();
}

void writeDesktopEntry(const QString& id, const QString& name, const QString& categories) {
    std::string text = "[Desktop Entry]\nType=Application\nName=" + name.toStdString() +
                       "\nExec=/nonexistent/" + id.toStdString() + "\n";
    if (!categories.isEmpty())
        text += "Categories=" + categories.toStdString() + "\n";
    test::writeFile(test::testHome() / "data" / "applications" / (id.toStdString() + ".desktop"),
                    text);
}

std::vector<double> videoFrameTimes(const std::filesystem::path& file) {
    const QByteArray out =
        runTool("ffprobe", {"-v", "error", "-select_streams", "v:0", "-show_entries",
                            "frame=pts_time", "-of", "csv=p=0", QString::fromStdString(file)});
    std::vector<double> times;
    for (const QByteArray& line : out.split('\n')) {
        bool ok = false;
        const double t = line.trimmed().toDouble(&ok);
        if (ok)
            times.push_back(t);
    }
    return times;
}

std::vector<float> decodeAudio(const std::filesystem::path& file, int index) {
    const QByteArray raw = runTool("ffmpeg", {"-v", "error", "-i", QString::fromStdString(file),
                                              "-map", "0:a:" + QString::number(index), "-ac", "1",
                                              "-ar", "48000", "-f", "f32le", "-"});
    std::vector<float> samples(size_t(raw.size()) / sizeof(float));
    std::memcpy(samples.data(), raw.constData(), samples.size() * sizeof(float));
    return samples;
}

ToneLevel measureTone(const std::vector<float>& samples, double hz) {
    // Goertzel over 0.1 s blocks; a pure tone at `hz` gives a share near 1, silence or another
    // frequency a share near 0.
    const size_t block = 4800;
    double total = 0.0, atTone = 0.0;
    size_t blocks = 0;
    const double w = 2.0 * std::numbers::pi * hz / 48000.0;
    const double coeff = 2.0 * std::cos(w);
    for (size_t start = 0; start + block <= samples.size(); start += block, ++blocks) {
        double s1 = 0.0, s2 = 0.0, energy = 0.0;
        for (size_t i = start; i < start + block; ++i) {
            const double s0 = samples[i] + coeff * s1 - s2;
            s2 = s1;
            s1 = s0;
            energy += double(samples[i]) * samples[i];
        }
        const double power = s1 * s1 + s2 * s2 - coeff * s1 * s2;
        atTone += 2.0 * power / (double(block) * block); // amplitude^2 / 2 of the tone
        total += energy / double(block);
    }
    if (blocks == 0)
        return {};
    return {std::sqrt(total / double(blocks)), total > 0.0 ? atTone / total : 0.0};
}

} // namespace vantel::e2e
