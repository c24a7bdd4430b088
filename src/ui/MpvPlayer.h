#pragma once

// A video surface that plays one clip file with libmpv through its OpenGL render API.
//
// Sound: a clip with a second audio track (the microphone) plays both tracks side by side and
// mixes them in one audio filter whose weights setMix() changes while playing, without
// restarting playback and without a gap. A clip with one audio track plays it unchanged.
//
// Threads: main thread only. libmpv's own threads only post wake-ups to this object (queued
// calls); every property read and every command happens on the main thread and never waits
// for playback. Closing the libmpv handle, which waits for its threads, runs on the Qt thread
// pool so that leaving a clip never stalls the window.
//
// Errors: a file that cannot be played is reported once through failed() with the user's
// text; the surface then stays dark.

#include <QOpenGLWidget>
#include <QString>

struct mpv_handle;
struct mpv_render_context;

namespace vantel {

class MpvPlayer : public QOpenGLWidget {
    Q_OBJECT
public:
    explicit MpvPlayer(QWidget* parent = nullptr);
    ~MpvPlayer() override;

    // Opens `path`; playback starts as soon as the file is open when `autoplay`. The file is
    // opened once the surface is first shown (the video output needs it).
    void open(const QString& path, bool autoplay = true);

    void play();
    void pause();
    void togglePause();
    bool paused() const { return m_paused; }
    // Absolute seek; `exact` decodes up to the very frame (for trimming), otherwise the nearest
    // key frame is enough (scrubbing).
    void seek(double seconds, bool exact = true);
    void seekBy(double seconds);

    double position() const { return m_position; }
    double duration() const { return m_duration; }
    // Audio tracks of the open file; 0 until loaded.
    int audioTracks() const { return m_audioTracks; }
    // Whether both audio tracks are mixed with the gains of setMix().
    bool mixing() const { return m_mixing; }

    // Linear gains of the first audio track and of the second; applied at once while playing.
    void setMix(double game, double mic);

    // Lets a test read what a named property holds, as text.
    QString property(const char* name) const;

signals:
    void loaded();
    void positionChanged(double seconds);
    void durationChanged(double seconds);
    void pausedChanged(bool paused);
    void failed(const QString& message);

protected:
    void initializeGL() override;
    void paintGL() override;

private:
    void createHandle();
    void loadFile();
    void handleEvents();
    void handleProperty(const char* name, int format, void* value);
    void onFileLoaded();
    void configureMix();
    void applyWeights();
    void freeRenderContext();
    void paintFrameEdge();

    mpv_handle* m_mpv = nullptr;
    mpv_render_context* m_render = nullptr;
    QString m_path;
    bool m_autoplay = true;
    bool m_paused = true;
    bool m_mixing = false;
    bool m_failed = false;
    int m_audioTracks = 0;
    double m_position = 0.0;
    double m_duration = 0.0;
    double m_game = 1.0;
    double m_mic = 1.0;
};

} // namespace vantel
