#include "ui/MpvPlayer.h"

#include "ui/Theme.h"

#include <QMetaObject>
#include <QOpenGLContext>
#include <QPainter>
#include <QPainterPath>
#include <QThreadPool>
#include <clocale>
#include <mpv/client.h>
#include <mpv/render_gl.h>

namespace vantel {

namespace {

// Both tracks side by side as three channels (game left, game right, microphone), so that one
// filter in the audio chain can weigh them. Filters inside the complex graph cannot be reached
// by a command while playing; the "mix" filter in the ordinary audio chain can.
constexpr char kSideBySide[] = "[aid1]aformat=channel_layouts=stereo[g];"
                               "[aid2]aformat=channel_layouts=mono[m];"
                               "[g][m]amerge=inputs=2[ao]";

QString mixChain(double game, double mic) {
    return QStringLiteral("@mix:lavfi=[asplit=2[g][m];[g]pan=stereo|c0=c0|c1=c1[g2];"
                          "[m]pan=stereo|c0=c2|c1=c2[m2];"
                          "[g2][m2]amix=inputs=2:normalize=0:weights=%1 %2]")
        .arg(game, 0, 'f', 3)
        .arg(mic, 0, 'f', 3);
}

void* procAddress(void*, const char* name) {
    QOpenGLContext* context = QOpenGLContext::currentContext();
    return context ? reinterpret_cast<void*>(context->getProcAddress(name)) : nullptr;
}

void setOption(mpv_handle* mpv, const char* name, const char* value) {
    mpv_set_option_string(mpv, name, value);
}

} // namespace

MpvPlayer::MpvPlayer(QWidget* parent)
    : QOpenGLWidget(parent) {
    setMinimumSize(160, 90);
    createHandle();
}

MpvPlayer::~MpvPlayer() {
    makeCurrent();
    freeRenderContext();
    doneCurrent();
    if (!m_mpv)
        return;
    mpv_set_wakeup_callback(m_mpv, nullptr, nullptr);
    // Closing waits for the decoder and audio threads; never on the window's thread.
    QThreadPool::globalInstance()->start([mpv = m_mpv] { mpv_terminate_destroy(mpv); });
}

void MpvPlayer::createHandle() {
    // libmpv parses numbers with the C locale and refuses to start under any other.
    std::setlocale(LC_NUMERIC, "C");
    m_mpv = mpv_create();
    if (!m_mpv)
        return;
    setOption(m_mpv, "vo", "libmpv");
    setOption(m_mpv, "hwdec", "no");
    setOption(m_mpv, "gpu-hwdec-interop", "no");
    setOption(m_mpv, "ao", "pulse,pipewire,alsa,");
    setOption(m_mpv, "audio-client-name", "Vantel Record");
    setOption(m_mpv, "keep-open", "yes");
    setOption(m_mpv, "idle", "yes");
    setOption(m_mpv, "terminal", "no");
    setOption(m_mpv, "input-default-bindings", "no");
    setOption(m_mpv, "osc", "no");
    setOption(m_mpv, "hr-seek", "yes");
    setOption(m_mpv, "pause", "yes");
    if (mpv_initialize(m_mpv) < 0) {
        mpv_terminate_destroy(m_mpv);
        m_mpv = nullptr;
        return;
    }
    mpv_observe_property(m_mpv, 0, "time-pos", MPV_FORMAT_DOUBLE);
    mpv_observe_property(m_mpv, 0, "duration", MPV_FORMAT_DOUBLE);
    mpv_observe_property(m_mpv, 0, "pause", MPV_FORMAT_FLAG);
    mpv_set_wakeup_callback(
        m_mpv,
        [](void* self) {
            QMetaObject::invokeMethod(static_cast<MpvPlayer*>(self), &MpvPlayer::handleEvents,
                                      Qt::QueuedConnection);
        },
        this);
}

void MpvPlayer::open(const QString& path, bool autoplay) {
    m_path = path;
    m_autoplay = autoplay;
    m_failed = false;
    m_mixing = false;
    m_audioTracks = 0;
    if (!m_mpv) {
        emit failed(QStringLiteral("Could not start the player."));
        return;
    }
    // The video output needs the renderer, which exists once the widget is first shown.
    if (m_render)
        loadFile();
}

void MpvPlayer::loadFile() {
    mpv_set_property_string(m_mpv, "pause", "yes");
    mpv_set_property_string(m_mpv, "lavfi-complex", "");
    mpv_set_property_string(m_mpv, "af", "");
    const QByteArray file = m_path.toUtf8();
    const char* command[] = {"loadfile", file.constData(), nullptr};
    mpv_command_async(m_mpv, 0, command);
}

void MpvPlayer::play() {
    if (m_mpv)
        mpv_set_property_string(m_mpv, "pause", "no");
}

void MpvPlayer::pause() {
    if (m_mpv)
        mpv_set_property_string(m_mpv, "pause", "yes");
}

void MpvPlayer::togglePause() {
    if (!m_mpv)
        return;
    // At the end of the clip a play starts it again from the beginning.
    if (m_paused && m_duration > 0 && m_position >= m_duration - 0.05)
        seek(0.0);
    m_paused ? play() : pause();
}

void MpvPlayer::seek(double seconds, bool exact) {
    if (!m_mpv)
        return;
    const QByteArray to = QByteArray::number(std::max(0.0, seconds), 'f', 3);
    const char* command[] = {"seek", to.constData(),
                             exact ? "absolute+exact" : "absolute+keyframes", nullptr};
    mpv_command_async(m_mpv, 0, command);
    m_position = std::max(0.0, seconds);
}

void MpvPlayer::seekBy(double seconds) {
    const double end = m_duration > 0 ? m_duration : m_position + seconds;
    seek(std::clamp(m_position + seconds, 0.0, end));
}

void MpvPlayer::setMix(double game, double mic) {
    m_game = game;
    m_mic = mic;
    if (m_mixing)
        applyWeights();
}

QString MpvPlayer::property(const char* name) const {
    if (!m_mpv)
        return {};
    char* text = mpv_get_property_string(m_mpv, name);
    QString value = text ? QString::fromUtf8(text) : QString();
    mpv_free(text);
    return value;
}

void MpvPlayer::applyWeights() {
    // Both weights in one command: two commands would let one filter run with half the change.
    const QByteArray weights =
        QByteArray::number(m_game, 'f', 3) + ' ' + QByteArray::number(m_mic, 'f', 3);
    const char* command[] = {"af-command", "mix", "weights", weights.constData(), nullptr};
    // The command reaches every filter of the chain and returns the last one's answer, which
    // is an error although amix took the weights; nothing to check here.
    mpv_command_async(m_mpv, 0, command);
}

void MpvPlayer::handleEvents() {
    while (m_mpv) {
        mpv_event* event = mpv_wait_event(m_mpv, 0);
        if (event->event_id == MPV_EVENT_NONE)
            break;
        switch (event->event_id) {
        case MPV_EVENT_PROPERTY_CHANGE: {
            auto* change = static_cast<mpv_event_property*>(event->data);
            handleProperty(change->name, change->format, change->data);
            break;
        }
        case MPV_EVENT_FILE_LOADED:
            onFileLoaded();
            break;
        case MPV_EVENT_END_FILE: {
            auto* end = static_cast<mpv_event_end_file*>(event->data);
            if (end->reason == MPV_END_FILE_REASON_ERROR && !m_failed) {
                m_failed = true;
                emit failed(QStringLiteral("Could not play this clip."));
            }
            break;
        }
        default:
            break;
        }
    }
}

void MpvPlayer::handleProperty(const char* name, int format, void* value) {
    const QByteArray key(name);
    if (key == "time-pos" && format == MPV_FORMAT_DOUBLE) {
        m_position = *static_cast<double*>(value);
        emit positionChanged(m_position);
    } else if (key == "duration" && format == MPV_FORMAT_DOUBLE) {
        m_duration = *static_cast<double*>(value);
        emit durationChanged(m_duration);
    } else if (key == "pause" && format == MPV_FORMAT_FLAG) {
        m_paused = *static_cast<int*>(value) != 0;
        emit pausedChanged(m_paused);
    }
}

void MpvPlayer::onFileLoaded() {
    int64_t tracks = 0;
    mpv_get_property(m_mpv, "track-list/count", MPV_FORMAT_INT64, &tracks);
    m_audioTracks = 0;
    for (int64_t i = 0; i < tracks; ++i) {
        const QByteArray key = "track-list/" + QByteArray::number(i) + "/type";
        if (property(key.constData()) == u"audio")
            ++m_audioTracks;
    }
    if (m_audioTracks >= 2)
        configureMix();
    emit loaded();
    if (m_autoplay)
        play();
}

void MpvPlayer::configureMix() {
    mpv_set_property_string(m_mpv, "lavfi-complex", kSideBySide);
    const QByteArray chain = mixChain(m_game, m_mic).toUtf8();
    m_mixing = mpv_set_property_string(m_mpv, "af", chain.constData()) >= 0;
}

void MpvPlayer::initializeGL() {
    if (!m_mpv || m_render)
        return;
    mpv_opengl_init_params gl{procAddress, nullptr};
    mpv_render_param params[] = {
        {MPV_RENDER_PARAM_API_TYPE, const_cast<char*>(MPV_RENDER_API_TYPE_OPENGL)},
        {MPV_RENDER_PARAM_OPENGL_INIT_PARAMS, &gl},
        {MPV_RENDER_PARAM_INVALID, nullptr}};
    if (mpv_render_context_create(&m_render, m_mpv, params) < 0) {
        m_render = nullptr;
        emit failed(QStringLiteral("Could not start the player."));
        return;
    }
    mpv_render_context_set_update_callback(
        m_render,
        [](void* self) {
            QMetaObject::invokeMethod(static_cast<MpvPlayer*>(self), qOverload<>(&QWidget::update),
                                      Qt::QueuedConnection);
        },
        this);
    // The GL context goes away when the widget moves to another window; so must the renderer.
    connect(context(), &QOpenGLContext::aboutToBeDestroyed, this, [this] {
        makeCurrent();
        freeRenderContext();
        doneCurrent();
    });
    if (!m_path.isEmpty())
        loadFile();
}

void MpvPlayer::freeRenderContext() {
    if (!m_render)
        return;
    mpv_render_context_set_update_callback(m_render, nullptr, nullptr);
    mpv_render_context_free(m_render);
    m_render = nullptr;
}

void MpvPlayer::paintGL() {
    const qreal ratio = devicePixelRatioF();
    if (m_render) {
        mpv_opengl_fbo fbo{int(defaultFramebufferObject()), int(width() * ratio),
                           int(height() * ratio), 0};
        int flip = 1;
        mpv_render_param params[] = {{MPV_RENDER_PARAM_OPENGL_FBO, &fbo},
                                     {MPV_RENDER_PARAM_FLIP_Y, &flip},
                                     {MPV_RENDER_PARAM_INVALID, nullptr}};
        mpv_render_context_render(m_render, params);
    } else {
        QPainter(this).fillRect(rect(), Qt::black);
    }
    paintFrameEdge();
}

void MpvPlayer::paintFrameEdge() {
    // Rounded corners in the window's colour and a thin border, drawn over the video.
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath outside;
    outside.addRect(rect());
    QPainterPath inside;
    inside.addRoundedRect(box, 10, 10);
    painter.fillPath(outside.subtracted(inside), Theme::bg());
    painter.setPen(QPen(Theme::line(), 1));
    painter.drawRoundedRect(box, 10, 10);
}

} // namespace vantel
