#include "app/Toast.h"

#include "platform/workspace/Compositing.h"
#include "ui/ToastView.h"

#include <QGuiApplication>
#include <QPropertyAnimation>
#include <QScreen>

namespace vantel {

namespace {

// Qt keeps a screen's top-left corner in device pixels and divides its size by the pixel ratio.
bool sameArea(const QScreen* screen, const QRect& pixels) {
    const qreal ratio = screen->devicePixelRatio();
    const QRect logical = screen->geometry();
    return logical.topLeft() == pixels.topLeft() &&
           qAbs(logical.width() * ratio - pixels.width()) < 2 &&
           qAbs(logical.height() * ratio - pixels.height()) < 2;
}

Toast::Presentation initialPresentation() {
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland"))
               ? Toast::Presentation::notification
               : Toast::Presentation::panel;
}

} // namespace

Toast::Toast(DisplaySource display, MonitorSource monitors, QObject* parent)
    : QObject(parent)
    , m_display(std::move(display))
    , m_monitors(std::move(monitors))
    , m_presentation(initialPresentation())
    , m_notifier(new platform::DesktopNotifier(this)) {
    m_hide.setSingleShot(true);
    m_hide.setTimerType(Qt::PreciseTimer);
    connect(&m_hide, &QTimer::timeout, this, &Toast::fadeOut);
}

Toast::~Toast() {
    delete m_panel.data();
}

void Toast::setSources(DisplaySource display, MonitorSource monitors) {
    m_display = std::move(display);
    m_monitors = std::move(monitors);
}

void Toast::createPanel() {
    m_panel = new ToastView;
    m_fade = new QPropertyAnimation(m_panel.data(), "windowOpacity", this);
    connect(m_fade, &QPropertyAnimation::finished, this, [this] {
        if (m_fadingOut)
            m_panel->hide();
    });
}

QRect Toast::screenArea(std::optional<std::uint32_t> display,
                        const QList<platform::Monitor>& monitors) {
    if (display) {
        for (const platform::Monitor& monitor : monitors) {
            if (monitor.id != *display)
                continue;
            for (QScreen* screen : QGuiApplication::screens()) {
                if (sameArea(screen, monitor.geometry))
                    return screen->availableGeometry();
            }
            return monitor.geometry;
        }
    }
    QScreen* primary = QGuiApplication::primaryScreen();
    return primary ? primary->availableGeometry() : QRect();
}

void Toast::show(const QString& title, const QString& detail, ToastKind kind) {
    const bool ok = kind == ToastKind::success;
    if (m_presentation == Presentation::notification) {
        m_notifier->notify(title, detail, !ok, int((kFadeIn + kHold + kFadeOut).count()));
        return;
    }
    if (!m_panel)
        createPanel();
    m_fade->stop();
    m_fadingOut = false;
    m_panel->setComposited(platform::desktopComposites());
    m_panel->setContent(title, detail, ok);
    const QRect area = screenArea(m_display(), m_monitors());
    const QSize size = m_panel->size();
    m_panel->move(area.x() + area.width() - size.width() - kMargin, area.y() + kMargin);
    m_panel->setWindowOpacity(0.0);
    m_panel->show();
    m_panel->raise();
    m_fade->setDuration(int(kFadeIn.count()));
    m_fade->setStartValue(0.0);
    m_fade->setEndValue(1.0);
    m_fade->start();
    m_hide.start(kHold);
}

void Toast::fadeOut() {
    m_fade->stop();
    m_fadingOut = true;
    m_fade->setDuration(int(kFadeOut.count()));
    m_fade->setStartValue(m_panel->windowOpacity());
    m_fade->setEndValue(0.0);
    m_fade->start();
}

} // namespace vantel
