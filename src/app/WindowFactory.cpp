#include "WindowFactory.h"

#include "AppState.h"
#include "Toast.h"
#include "WelcomeWindow.h"
#include "engine/CaptureController.h"
#include "library/Library.h"
#include "platform/freedesktop/DesktopEntries.h"
#include "settings/Settings.h"
#include "sharing/Account.h"
#include "ui/LibraryWindow.h"
#include "ui/SettingsWindow.h"
#include "ui/StatusFooter.h"

namespace vantel {

QWidget* WindowFactory::makeLibraryWindow() const {
    Toast& toast = m_services.toast;
    auto* window = new LibraryWindow(
        {m_services.settings, m_services.library, &m_services.sharing,
         [&toast](const QString& title, const QString& detail, bool ok) {
             toast.show(title, detail, ok ? ToastKind::success : ToastKind::problem);
         }});
    StatusFooter* footer = window->footer();
    AppState& state = m_services.state;
    auto showState = [footer, &state] {
        footer->setStatus(state.recording(), state.statusLine());
    };
    QObject::connect(&state, &AppState::changed, footer, showState);
    showState();
    return window;
}

QWidget* WindowFactory::create(const QString& id) const {
    if (id == QLatin1String("welcome")) {
        CaptureController& capture = m_services.capture;
        return new WelcomeWindow({m_services.settings, [&capture] { return capture.permitted(); },
                                  [&capture] {
                                      return capture.requestPermission();
                                  }});
    }
    if (id == QLatin1String("settings"))
        return new SettingsWindow(
            {m_services.settings, Account::shared(), platform::DesktopEntries::shared()},
            SettingsWindow::Desktop::system(m_services.library));
    if (id == QLatin1String(LibraryWindow::kId))
        return makeLibraryWindow();
    return new QWidget;
}

} // namespace vantel
