#pragma once

// The one way the program tells the user a short outcome ("Clip saved", "Not recording", ...):
// a small panel at the top right of the screen being recorded, 20 pixels from its edges. It
// fades in over 0.15 s, stays 2.6 s and fades out over 0.25 s. There is one panel: a new toast
// replaces the shown one at once (content, place, fade-in) and restarts the 2.6 s, so the
// earlier toast's fade-out never runs; toasts are never queued.
//
// The screen is the one whose monitor has the capture target's display id; without a target,
// a display id, or a matching monitor, the primary screen. The panel never takes the focus
// from a game and clicks pass through it (see ToastView).
//
// Where programs cannot place their own windows (Wayland), toasts are desktop notifications
// instead, each replacing the one before; the program may force either (setPresentation).
//
// Thread: main thread only; show() returns at once.

#include "ToastKind.h"
#include "platform/freedesktop/DesktopNotifier.h"
#include "platform/workspace/Workspace.h"
#include "ui/ToastView.h"

#include <QObject>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QTimer>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class QPropertyAnimation;

namespace vantel {

class Toast : public QObject {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds kFadeIn{150};
    static constexpr std::chrono::milliseconds kHold{2600};
    static constexpr std::chrono::milliseconds kFadeOut{250};
    static constexpr int kMargin = 20;

    // Where the recorded display id and the monitors come from: in the program the capture
    // controller's target and the game detector's workspace. Tests point them elsewhere.
    using DisplaySource = std::function<std::optional<std::uint32_t>()>;
    using MonitorSource = std::function<QList<platform::Monitor>()>;

    // Created once the application object exists, and destroyed before it.
    Toast(DisplaySource display, MonitorSource monitors, QObject* parent = nullptr);
    ~Toast() override;

    void show(const QString& title, const QString& detail, ToastKind kind = ToastKind::success);

    void setSources(DisplaySource display, MonitorSource monitors);

    enum class Presentation { panel, notification };
    Presentation presentation() const { return m_presentation; }
    void setPresentation(Presentation presentation) { m_presentation = presentation; }

    // The panel; null before the first toast.
    ToastView* view() const { return m_panel.data(); }

    // The usable area (screen coordinates) of the screen showing `display`.
    static QRect screenArea(std::optional<std::uint32_t> display,
                            const QList<platform::Monitor>& monitors);

private:
    void createPanel();
    void fadeOut();

    // Top-level widgets left at the end are deleted by the application object before its
    // children, this instance among them; the guard then reads null.
    QPointer<ToastView> m_panel;
    QPropertyAnimation* m_fade = nullptr;
    QTimer m_hide;
    bool m_fadingOut = false;
    DisplaySource m_display;
    MonitorSource m_monitors;
    Presentation m_presentation;
    platform::DesktopNotifier* m_notifier = nullptr;
};

} // namespace vantel
