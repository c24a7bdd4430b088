#include "GameDetector.h"

#include <QSet>
#include <algorithm>

namespace vantel {

namespace {

// Launchers, stores and helpers that own windows but are never what the player wants recorded.
// Tested before every other rule, so they win over the known games and the user's list.
const QSet<QString>& notGames() {
    static const QSet<QString> ids{
        "com.valvesoftware.steam",
        "com.epicgames.EpicGamesLauncher",
        "com.apple.gamecenter",
        "com.apple.games",
        "com.roblox.RobloxPlayer.Updater",
        "com.apple.Chess",
        "steam",
        "com.valvesoftware.Steam",
        "com.heroicgameslauncher.hgl",
        "net.lutris.Lutris",
        "org.prismlauncher.PrismLauncher",
    };
    return ids;
}

const QSet<QString>& knownGames() {
    static const QSet<QString> ids{
        "com.roblox.RobloxPlayer",
        "com.roblox.RobloxStudio",
        "com.mojang.minecraftlauncher",
        "com.riotgames.LeagueofLegends.GameClient",
        "com.blizzard.worldofwarcraft",
        "com.valvesoftware.steam.helper",
        "com.epicgames.EpicGamesLauncher.Fortnite",
        "net.pcsx2.pcsx2",
        "org.ppsspp.ppsspp",
        "com.dolphin-emu.dolphin",
        "org.openemu.OpenEmu",
        "org.vinegarhq.Sober",
        "com.mojang.Minecraft",
        "net.pcsx2.PCSX2",
        "org.ppsspp.PPSSPP",
        "org.DolphinEmu.dolphin-emu",
        "org.libretro.RetroArch",
    };
    return ids;
}

bool inGameStore(const QString& path) {
    return path.contains("/steamapps/common/") || path.contains("/Epic Games/") ||
           path.contains("/Games/Heroic/");
}

int64_t area(const QRect& r) {
    return int64_t(r.width()) * int64_t(r.height());
}

} // namespace

GameDetector::GameDetector(std::unique_ptr<platform::Workspace> workspace, Timing timing,
                           QObject* parent)
    : QObject(parent)
    , m_workspace(std::move(workspace))
    , m_timing(timing)
    , m_tick(this) {
    connect(m_workspace.get(), &platform::Workspace::applicationsChanged, this,
            &GameDetector::scanSoon);
    connect(m_workspace.get(), &platform::Workspace::screensChanged, this, &GameDetector::scanSoon);
    connect(&m_tick, &QTimer::timeout, this, &GameDetector::scan);
    m_tick.start(m_timing.tick);
    scan();
}

GameDetector::~GameDetector() = default;

void GameDetector::setExtraGamesProvider(std::function<QStringList()> provider) {
    m_extraGames = std::move(provider);
}

const platform::AppIdentity& GameDetector::identityOf(const platform::RunningApp& app) {
    // A launcher's sandbox runs the launcher and every game it starts under the launcher's id:
    // there each process is judged, and named, by what it is itself, as without the sandbox.
    if (app.own && notGames().contains(app.appId))
        return *app.own;
    return app;
}

bool GameDetector::isGame(const platform::RunningApp& app, const QStringList& extraGames) const {
    if (!app.regular || app.terminated)
        return false;
    const platform::AppIdentity& who = identityOf(app);
    const QString& id = who.appId;
    if (notGames().contains(id))
        return false;
    // A process started by Steam for a game carries SteamGameId, like the Steam game helper.
    if (knownGames().contains(id) || app.steamGame)
        return true;
    if (extraGames.contains(id))
        return true;
    // A desktop entry does not contain its program the way an application bundle does, so the
    // install-path test looks at both.
    if (inGameStore(who.bundlePath) || inGameStore(app.executablePath))
        return true;
    if (who.name.toLower().startsWith("minecraft"))
        return true;
    return who.categories.contains("Game");
}

QString GameDetector::displayName(const platform::RunningApp& app) {
    const platform::AppIdentity& who = identityOf(app);
    QString name = who.name.isEmpty() ? QStringLiteral("Game") : who.name;
    if (who.appId == "com.roblox.RobloxPlayer")
        return QStringLiteral("Roblox");
    if (name.toLower() == "java")
        return QStringLiteral("Minecraft");
    return name;
}

std::optional<uint32_t> GameDetector::displayOf(int32_t pid) {
    std::optional<QRect> best;
    for (const platform::WindowInfo& w : m_workspace->windows()) {
        if (w.pid != pid || w.layer != 0)
            continue;
        if (!best || area(w.bounds) > area(*best))
            best = w.bounds;
    }
    if (!best || best->width() <= 0)
        return std::nullopt;
    QPoint centre(best->x() + best->width() / 2, best->y() + best->height() / 2);
    QList<uint32_t> ids = m_workspace->displaysAt(centre);
    if (ids.isEmpty())
        return std::nullopt;
    return ids.first();
}

void GameDetector::scan() {
    const QStringList extra = m_extraGames ? m_extraGames() : QStringList();
    QList<platform::RunningApp> games;
    for (const platform::RunningApp& app : m_workspace->runningApplications())
        if (isGame(app, extra))
            games.append(app);

    std::optional<Target> next;
    if (!games.isEmpty()) {
        const std::optional<int32_t> front = m_workspace->frontmostPid();
        auto picked = std::find_if(games.begin(), games.end(),
                                   [&](const auto& app) { return front && app.pid == *front; });
        const platform::RunningApp& game = picked != games.end() ? *picked : games.first();
        next = Target{displayName(game).toStdString(), game.pid, displayOf(game.pid)};
        // A game whose window is briefly gone keeps the display it was last seen on.
        if (!next->displayID && m_current && m_current->pid == next->pid)
            next = m_current;
    }

    if (next == m_current)
        return;
    m_current = std::move(next);
    if (onChange)
        onChange();
    emit currentChanged();
}

void GameDetector::scanSoon() {
    QTimer::singleShot(m_timing.scanDelay, this, &GameDetector::scan);
}

} // namespace vantel
