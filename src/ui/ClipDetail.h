#pragma once

// The detail view of one clip, in place of the grid: a top bar ("Clips" back, then game, date
// and height), the player, the title field with "Trim" and, once a range is chosen, "Save
// trimmed copy (…)", the game/mic volume row (only for clips with a microphone track), the
// action row (sign in, get a link, or copy/open/stop sharing; show in folder; move to Trash),
// the busy text with its progress bar, and the last failure in red.
//
// A file that cannot be played shows "Can't be played" with a word on why in place of the
// player, and offers only what needs no player: the title, Show in Folder and Move to Trash.
//
// Stop sharing and Move to Trash report a failure in the red line (or, when the view is gone,
// as a toast) and leave the clip as it was; Move to Trash goes back to the grid once the file
// is gone.
//
// The view belongs to one file (its identity is the clip's path); the window builds a new one
// for another file and hands newer metadata of the same file to setClip(), so a new title or
// share link shows at once while the trim range, volumes and messages stay.
//
// Changes go through the library (rename, delete, trimmed copy) and the share service, both
// handed in as `Services`; a share or trim that is still running when the view goes keeps
// going, and its outcome reaches the user through the library and the toast (ClipJobs.h).
//
// Thread: main thread.

#include "library/Clip.h"
#include "media/RangeCopy.h"
#include "ui/ClipJobs.h"

#include <QPointer>
#include <QWidget>
#include <functional>
#include <optional>

class QPushButton;
class QHBoxLayout;

namespace vantel {

class ClipCantPlayPanel;
class ClipStatusRows;
class ClipTitleField;
class ClipTopBar;
class ClipVolumeRow;
class Library;
class PlayerView;
class ShareService;
class TrimPanel;

class ClipDetail : public QWidget {
    Q_OBJECT
public:
    // What the view works through; the library and the share service must outlive the view.
    struct Services {
        using Toast = ClipJobs::Toast;
        Library& library;
        ShareService* sharing;                           // may be null: sharing is then unavailable
        Toast toast;                                     // may be empty: nothing is shown
        std::function<void(const QString& path)> reveal; // may be empty: nothing happens
    };

    ClipDetail(const Clip& clip, Services services, QWidget* parent = nullptr);
    ~ClipDetail() override;

    const Clip& clip() const { return m_clip; }
    // Newer metadata of the same file.
    void setClip(const Clip& clip);

    std::optional<media::TimeRange> trim() const { return m_trim; }
    std::optional<QString> busy() const { return m_busy; }
    std::optional<QString> error() const { return m_error; }
    double gameVolume() const;
    double micVolume() const;
    PlayerView* playerView() const { return m_player; }
    // Full screen: only the player stays visible.
    void setTheatre(bool on);

    // The steps the buttons run, callable by the window and tests.
    void rename();
    void share();
    void startTrim();
    void setTrim(const std::optional<media::TimeRange>& range);
    void saveTrim();
    void setVolumes(double game, double mic);

signals:
    void back();
    void fullScreenRequested(bool on);

private:
    QWidget* makeTitleRow();
    void showPlayback();
    void rebuildActions();
    void addShareActions(QHBoxLayout* row);
    void showTrim();
    void setBusy(const std::optional<QString>& stage, double progress = 0.0);
    void setError(const std::optional<QString>& message);
    void endTrim();
    void copyLink();
    void openLink();
    void stopSharing();
    void moveToTrash();

    Clip m_clip;
    Services m_services;
    std::optional<media::TimeRange> m_trim;
    std::optional<QString> m_busy;
    std::optional<QString> m_error;

    ClipTopBar* m_topBar = nullptr;
    PlayerView* m_player = nullptr;
    bool m_opened = false; // the player was given the file
    ClipCantPlayPanel* m_cantPlay = nullptr;
    TrimPanel* m_trimPanel = nullptr;
    QWidget* m_titleRow = nullptr;
    ClipTitleField* m_title = nullptr;
    QPushButton* m_trimButton = nullptr;
    QPushButton* m_saveTrim = nullptr;
    ClipVolumeRow* m_volumeRow = nullptr;
    QWidget* m_actions = nullptr;
    QPushButton* m_shareButton = nullptr;
    ClipStatusRows* m_status = nullptr;
};

} // namespace vantel
