#pragma once

// Helpers of the end-to-end tests: child processes that are always stopped, the stand-in game,
// tones played into the session's PulseAudio sinks, desktop entries, and measurements of
// recorded files with ffmpeg and ffprobe.

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

namespace vantel::e2e {

// A child process that is terminated (then killed) when its holder goes, also when a test fails.
class Child {
public:
    Child(const QString& program, const QStringList& arguments,
          const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment());
    ~Child();
    Child(Child&&) = default;
    Child& operator=(Child&&) = default;

    int32_t pid() const { return int32_t(m_process->processId()); }
    bool running() const { return m_process->state() != QProcess::NotRunning; }
    void send(const QByteArray& line);
    void stop();

private:
    std::unique_ptr<QProcess> m_process;
};

// The stand-in game (vantel-test-game) on the session's X display.
Child startGame(const QStringList& arguments);
// The stand-in game as a native client of the session's Wayland compositor.
Child startWaylandGame(const QStringList& arguments);
// The stand-in game through the Xwayland server of the session's sway (see xwaylandDisplay()).
Child startXwaylandGame(const QStringList& arguments);

// The display of the Xwayland server that the session's sway (SWAYSOCK) keeps, opened to this
// user: sway runs as another user, and so does its Xwayland, which lets in only its own user
// until told otherwise. Empty when there is none.
QString xwaylandDisplay();

// A sine tone of `hz` played into the PulseAudio sink `sink` for `seconds`.
Child playTone(const QString& sink, int hz, int seconds);

// Runs the event loop until `done` holds or `limit` has passed; returns done().
bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit);

// Runs a tool to its end; returns its standard output, its standard error into `errors`.
QByteArray runTool(const QString& program, const QStringList& arguments,
                   QByteArray* errors = nullptr);

// A desktop entry in $XDG_DATA_HOME/applications, read by the workspace when it is created.
void writeDesktopEntry(const QString& id, const QString& name, const QString& categories);

// Presentation times of the first video stream, in seconds.
std::vector<double> videoFrameTimes(const std::filesystem::path& file);
// The `index`th audio track decoded to mono 48 kHz samples.
std::vector<float> decodeAudio(const std::filesystem::path& file, int index);

struct ToneLevel {
    double rms = 0.0;   // of the whole signal
    double share = 0.0; // fraction of the signal's power at the frequency asked for
};
ToneLevel measureTone(const std::vector<float>& samples, double hz);

} // namespace vantel::e2e
