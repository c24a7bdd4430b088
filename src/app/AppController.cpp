#include "AppController.h"

#include "TrayIcon.h"
#include "UpdateCheck.h"
#include "WelcomeWindow.h"
#include "engine/GameDetector.h"
#include "engine/RecordError.h"
#include "settings/Notifications.h"
#include "settings/Settings.h"
#include "settings/SiteUrl.h"
#include "ui/Theme.h"

#include <QCoreApplication>
#include <QCoro/QCoroTimer>
#include <QDesktopServices>
#include <chrono>

namespace vantel {

namespace {
using namespace std::chrono_literals;
constexpr auto kUpdateInterval = 6h;
constexpr auto kSavePoll = 50ms;

const WindowSpec kLibrary{QStringLiteral("library"), QStringLiteral("Clips"), {1080, 700}, true};
const WindowSpec kSettings{
    QStringLiteral("settings"), QStringLiteral("Vantel Record Settings"), {560, 680}, false};
const WindowSpec kWelcome{
    QStringLiteral("welcome"), QStringLiteral("Vantel Record"), {520, 470}, false};
} // namespace

AppController::AppController(Services services, QObject* parent)
    : QObject(parent)
    , m_services(std::move(services))
    , m_windows(m_services.settings.store(), m_services.windowFactory)
    , m_versionFile(siteURL(QStringLiteral("app/version.json")))
    , m_uploads(m_services.shell,
                m_services.uploads ? m_services.uploads : std::make_shared<Cancellation>()) {
    m_updateTimer.setInterval(kUpdateInterval);
    connect(&m_updateTimer, &QTimer::timeout, this, [this] { checkForUpdate(); });
}

AppController::~AppController() {
    m_services.capture.onState = nullptr;
    if (m_services.detector)
        m_services.detector->onChange = nullptr;
}

void AppController::launch(bool withTray) {
    if (withTray)
        m_tray = std::make_unique<TrayIcon>(
            [this] { return menuEntries(); },
            [this](MenuAction action, int seconds) { runMenuAction(action, seconds); });
    refreshIcon();
    m_services.capture.onState = [this](CaptureController::State state) {
        show(state);
    };
    if (m_services.detector)
        m_services.detector->onChange = [this] {
            sync();
        };
    Notifications& notifications = m_services.settings.notifications();
    connect(&notifications, &Notifications::captureSettingsChanged, this,
            [this] { restartAfterSettings(); });
    connect(&notifications, &Notifications::hotkeyChanged, this, [this] { bindHotkey(); });
    bindHotkey();
    const bool onboarded = AppState::readFlag(m_services.settings.store(), settingsKey::onboarded);
    if (onboarded && m_services.shell.hasPermission())
        sync();
    else
        openWelcome();
    checkForUpdate();
    m_updateTimer.start();
}

void AppController::sync() {
    syncTask();
}

QCoro::Task<> AppController::syncTask() {
    if (!m_services.shell.hasPermission()) {
        m_services.state.setRecording(false);
        m_services.state.setStatusLine(
            QString::fromStdString(RecordError::permission().errorDescription()));
        refreshIcon();
        co_return;
    }
    if (m_services.state.paused()) {
        co_await m_services.capture.stop();
        show(CaptureController::State::off());
    } else {
        co_await m_services.capture.sync();
    }
}

QCoro::Task<SaveResult> AppController::saveClip(std::optional<double> seconds) {
    if (m_saving || m_quitting)
        co_return SaveResult{SaveResult::Kind::dropped, {}, {}};
    if (!m_services.capture.buffer()) {
        const QString line = m_services.state.statusLine();
        m_services.shell.toast(QStringLiteral("Not recording"), line, ToastKind::problem);
        co_return SaveResult{SaveResult::Kind::notRecording, {}, line};
    }
    m_saving = true;
    const double length = seconds.value_or(double(m_services.settings.bufferSeconds()));
    SaveResult result;
    try {
        result.clip = co_await m_services.saver(length);
        result.kind = SaveResult::Kind::saved;
        showSaved(result.clip);
        result.sharing = m_shareWanted && m_shareWanted();
        if (result.sharing)
            m_uploads.add(result.clip);
    } catch (const std::exception& error) {
        result.detail = QString::fromStdString(CaptureController::explain(error));
        m_services.shell.toast(QStringLiteral("Couldn't save the clip"), result.detail,
                               ToastKind::problem);
    }
    m_saving = false;
    co_return result;
}

void AppController::setAutoShare(AutoShare share) {
    m_shareWanted = std::move(share.wanted);
    m_uploads.setUpload(std::move(share.upload));
}

void AppController::showSaved(const Clip& clip) {
    if (m_services.settings.playSound())
        m_services.shell.playSaveSound();
    m_services.shell.toast(QStringLiteral("Clip saved"),
                           clip.meta.game + QStringLiteral(" · ") + fmtDuration(clip.meta.duration),
                           ToastKind::success);
}

void AppController::togglePause() {
    m_services.state.setPaused(!m_services.state.paused());
    refreshIcon();
    sync();
}

QCoro::Task<> AppController::quit() {
    if (m_quitting)
        co_return;
    m_quitting = true;
    m_hotkey.reset();
    m_uploads.stop();
    // A save in flight still reads the buffer's segments: let it finish before they go.
    while (m_saving)
        co_await QCoro::sleepFor(kSavePoll);
    co_await m_services.capture.stop();
    emit quitting();
}

void AppController::openLibrary() {
    m_windows.open(kLibrary);
}

void AppController::openSettings() {
    m_windows.open(kSettings);
}

void AppController::openWelcome() {
    const bool fresh = !m_windows.isOpen(kWelcome.id);
    auto* welcome = qobject_cast<WelcomeWindow*>(m_windows.open(kWelcome));
    if (!fresh || !welcome)
        return;
    connect(welcome, &WelcomeWindow::started, this, &AppController::welcomeFinished);
    connect(welcome, &WelcomeWindow::relaunching, this, [this] { quit(); });
}

void AppController::closeWindow(const QString& id) {
    m_windows.close(id);
}

void AppController::welcomeFinished() {
    closeWindow(kWelcome.id);
    sync();
    if (m_services.shell.hasPermission())
        m_services.shell.toast(QStringLiteral("Vantel Record is on"),
                               m_services.settings.saveHotkey().display() +
                                   QStringLiteral(" saves a clip"),
                               ToastKind::success);
}

void AppController::wake() {
    restartAfterWake();
}

// A paused recorder stays paused through sleep, and a recorder waiting for a game keeps
// waiting: only a run that was active is restarted (its stream rarely survives a suspend).
QCoro::Task<> AppController::restartAfterWake() {
    if (m_services.state.paused() || m_quitting)
        co_return;
    if (m_services.capture.target())
        co_await m_services.capture.restart();
    else
        co_await syncTask();
}

// Stopping first makes the next run take the new options; syncing (not starting) keeps a
// paused recorder paused.
QCoro::Task<> AppController::restartAfterSettings() {
    if (m_quitting)
        co_return;
    co_await m_services.capture.stop();
    co_await syncTask();
}

void AppController::openUrl(const QString& url) {
    if (!url.startsWith(QLatin1String("vantelrecord:"), Qt::CaseInsensitive))
        return;
    if (m_urlHandler)
        m_urlHandler(url);
}

void AppController::checkForUpdate() {
    vantel::checkForUpdate(m_network, m_versionFile, m_services.version, this,
                           [this](std::optional<AppUpdate> update) {
                               if (update)
                                   m_services.state.setUpdate(*update);
                               emit updateChecked();
                           });
}

std::vector<MenuEntry> AppController::menuEntries() const {
    MenuFacts facts;
    facts.statusLine = m_services.state.statusLine();
    if (const std::shared_ptr<ReplayBuffer> buffer = m_services.capture.buffer())
        facts.buffer = BufferFacts{buffer->bufferedSeconds(), buffer->height()};
    facts.bufferSeconds = m_services.settings.bufferSeconds();
    facts.fps = m_services.settings.fps();
    facts.hotkeyDisplay = m_services.settings.saveHotkey().display();
    facts.paused = m_services.state.paused();
    facts.update = m_services.state.update();
    return statusMenu(facts);
}

QStringList AppController::statusLines() const {
    QStringList lines{m_services.state.statusLine()};
    if (const std::shared_ptr<ReplayBuffer> buffer = m_services.capture.buffer())
        lines << readyLine(buffer->bufferedSeconds(), m_services.settings.bufferSeconds(),
                           buffer->height(), m_services.settings.fps());
    if (!m_hotkeyProblem.isEmpty())
        lines << m_hotkeyProblem;
    return lines;
}

void AppController::show(const CaptureController::State& state) {
    m_services.state.setRecording(state.kind == CaptureController::State::Kind::recording);
    m_services.state.setStatusLine(statusLineFor(state, m_services.state.paused()));
    refreshIcon();
}

void AppController::refreshIcon() {
    if (m_tray)
        m_tray->show(trayIconFor(m_services.state.recording(), m_services.state.paused()),
                     trayToolTip(m_services.state.statusLine()));
}

void AppController::bindHotkey() {
    m_hotkey.reset();
    const Hotkey hotkey = m_services.settings.saveHotkey();
    m_hotkey = m_services.shell.bindHotkey(hotkey, [this] { saveClip(); });
    if (m_hotkey && m_hotkey->registered()) {
        m_hotkeyProblem.clear();
        m_hotkey->onRefused([this, hotkey] {
            reportHotkeyProblem(hotkey.display() +
                                QStringLiteral(" was not allowed by the desktop"));
        });
        return;
    }
    reportHotkeyProblem(hotkey.display() + QStringLiteral(" is used by another program"));
}

void AppController::reportHotkeyProblem(const QString& problem) {
    m_hotkeyProblem = problem;
    m_services.shell.toast(QStringLiteral("Shortcut unavailable"), m_hotkeyProblem,
                           ToastKind::problem);
}

void AppController::runMenuAction(MenuAction action, int seconds) {
    switch (action) {
    case MenuAction::saveClip:
        saveClip();
        break;
    case MenuAction::saveLast:
        saveClip(double(seconds));
        break;
    case MenuAction::togglePause:
        togglePause();
        break;
    case MenuAction::openLibrary:
        openLibrary();
        break;
    case MenuAction::openSettings:
        openSettings();
        break;
    case MenuAction::openUpdate:
        openUpdate();
        break;
    case MenuAction::quit:
        quit();
        break;
    case MenuAction::none:
        break;
    }
}

void AppController::openUpdate() {
    if (const std::optional<AppUpdate> update = m_services.state.update())
        QDesktopServices::openUrl(update->url);
}

} // namespace vantel
