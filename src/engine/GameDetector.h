#pragma once

// Watches the running applications and keeps current(), the game that recording follows, with
// the display that shows its largest window. Whenever current() changes, onChange runs once and
// currentChanged() is emitted; the application answers with the capture controller's sync().
//
// Thread: the main thread only, like its Workspace. Every scan reads the user's extra games
// afresh from the provider, so an edit of the list applies at the next scan.
//
// Triggers: creation scans at once; a 5 s repeating tick scans; every applicationsChanged or
// screensChanged of the workspace schedules one scan 1.5 s later (calls are not coalesced: three
// notifications lead to three scans). The timers are children of the detector and die with it.

#include "GameTarget.h"
#include "platform/workspace/Workspace.h"

#include <QObject>
#include <QStringList>
#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace vantel {

struct GameDetectorTiming {
    std::chrono::milliseconds scanDelay{1500}; // after a workspace notification
    std::chrono::milliseconds tick{5000};      // the repeating scan
};

class GameDetector : public QObject {
    Q_OBJECT
public:
    using Target = GameTarget;

    using Timing = GameDetectorTiming;

    // Takes the workspace over and runs one scan. The user's list is empty until a provider is
    // installed.
    explicit GameDetector(std::unique_ptr<platform::Workspace> workspace, Timing timing = {},
                          QObject* parent = nullptr);
    ~GameDetector() override;

    const std::optional<Target>& current() const { return m_current; }
    // Called synchronously inside scan() after every change of current().
    std::function<void()> onChange;

    // Re-evaluates now; publishes a change of current().
    void scan();

    // The user's own list of application ids that count as games, read at every test. The
    // application reads it from the settings store and calls scan() after writing the list.
    void setExtraGamesProvider(std::function<QStringList()> provider);

    // Whether the application is a game by the fixed lists, the user's list, install paths, the
    // name and the desktop entry's categories, in that order of precedence. A process in the
    // sandbox of a launcher that is never a game is judged by its own identity instead.
    bool isGame(const platform::RunningApp& app, const QStringList& extraGames) const;

    platform::Workspace& workspace() { return *m_workspace; }

signals:
    void currentChanged();

private:
    void scanSoon();
    std::optional<uint32_t> displayOf(int32_t pid);
    static const platform::AppIdentity& identityOf(const platform::RunningApp& app);
    static QString displayName(const platform::RunningApp& app);

    std::unique_ptr<platform::Workspace> m_workspace;
    Timing m_timing;
    QTimer m_tick;
    std::function<QStringList()> m_extraGames;
    std::optional<Target> m_current;
};

} // namespace vantel
