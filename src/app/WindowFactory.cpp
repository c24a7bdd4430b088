#include "WindowFactory.h"

#include "AppState.h"
#include "Toast.h"
#include "WelcomeWindow.h"
#include "library/Library.h"
#include "platform/freedesktop/DesktopEntries.h"
#include "settings/Settings.h"
#include "sharing/Account.h"
#include "ui/AccountShareService.h"
#include "ui/LibraryWindow.h"
#include "ui/SettingsWindow.h"
#include "ui/StatusFooter.h"

#include <QCoreApplication>

namespace vantel {

namespace {

// One share service for every library window the program opens, living as long as the program.
ShareService& programSharing(const std::shared_ptr<Cancellation>& uploads) {
    static auto* service = new AccountShareService(Account::shared(), Library::shared(), uploads,
                                                   QCoreApplication::instance());
    return *service;
}

QWidget* makeLibraryWindow(const std::shared_ptr<Cancellation>& uploads) {
    LibraryWindow::Services services;
    services.library = &Library::shared();
    services.sharing = &programSharing(uploads);
    services.toast = [](const QString& title, const QString& detail, bool ok) {
        Toast::shared().show(title, detail, ok);
    };
    auto* window = new LibraryWindow(services);
    StatusFooter* footer = window->footer();
    AppState& state = AppState::shared();
    auto showState = [footer, &state] {
        footer->setStatus(state.recording(), state.statusLine());
    };
    QObject::connect(&state, &AppState::changed, footer, showState);
    showState();
    return window;
}

} // namespace

QWidget* createWindowContent(const QString& id, const std::shared_ptr<Cancellation>& uploads) {
    if (id == QLatin1String("welcome"))
        return new WelcomeWindow;
    if (id == QLatin1String("settings"))
        return new SettingsWindow(
            {Settings::shared(), Account::shared(), platform::DesktopEntries::shared()},
            SettingsWindow::Desktop::system(Library::shared()));
    if (id == QLatin1String(LibraryWindow::kId))
        return makeLibraryWindow(uploads);
    return new QWidget;
}

} // namespace vantel
