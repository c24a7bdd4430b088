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
// Changes go through the library (rename, delete, trimmed copy) and the share service; a share
// or trim that is still running when the view goes keeps going, and its outcome reaches the
// user through the library and the toast.
//
// Thread: main thread.

#include "library/Clip.h"
#include "media/RangeCopy.h"

#include <QPointer>
#include <QWidget>
#include <functional>
#include <optional>

class QFrame;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QHBoxLayout;
class QSlider;
class QToolButton;

namespace vantel {

class Library;
class PlayerView;
class ShareService;
class TrimPanel;

class ClipDetail : public QWidget {
    Q_OBJECT
public:
    struct Context {
        Library* library = nullptr;
        ShareService* sharing = nullptr; // may be null: sharing is then unavailable
        using Toast = std::function<void(const QString& title, const QString& detail, bool ok)>;
        Toast toast;
        std::function<void(const QString& path)> reveal;
    };

    ClipDetail(const Clip& clip, Context context, QWidget* parent = nullptr);
    ~ClipDetail() override;

    const Clip& clip() const { return m_clip; }
    // Newer metadata of the same file.
    void setClip(const Clip& clip);

    std::optional<media::TimeRange> trim() const { return m_trim; }
    std::optional<QString> busy() const { return m_busy; }
    std::optional<QString> error() const { return m_error; }
    double gameVolume() const { return m_gameVol; }
    double micVolume() const { return m_micVol; }
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
    QWidget* makeTopBar();
    QWidget* makeTitleRow();
    QWidget* makeVolumeRow();
    QWidget* makeStatusRows();
    QWidget* makeCantPlay();
    void showPlayback();
    QHBoxLayout* makeVolumeSlider(const QString& label, QSlider*& slider, QLabel*& value);
    void rebuildActions();
    void addShareActions(QHBoxLayout* row);
    void showTopLine();
    void showTrim();
    void showBusy();
    void setBusy(const std::optional<QString>& stage, double progress = 0.0);
    void setError(const std::optional<QString>& message);
    void applyMix();
    void endTrim();
    void copyLink();
    void openLink();
    void stopSharing();
    void moveToTrash();

    Clip m_clip;
    Context m_context;
    std::optional<media::TimeRange> m_trim;
    double m_gameVol = 1.0;
    double m_micVol = 1.0;
    std::optional<QString> m_busy;
    double m_progress = 0.0;
    std::optional<QString> m_error;

    QLabel* m_topLine = nullptr;
    QWidget* m_topBar = nullptr;
    PlayerView* m_player = nullptr;
    bool m_opened = false; // the player was given the file
    QFrame* m_cantPlay = nullptr;
    TrimPanel* m_trimPanel = nullptr;
    QWidget* m_titleRow = nullptr;
    QLineEdit* m_title = nullptr;
    QPushButton* m_trimButton = nullptr;
    QPushButton* m_saveTrim = nullptr;
    QWidget* m_volumeRow = nullptr;
    QSlider* m_gameSlider = nullptr;
    QSlider* m_micSlider = nullptr;
    QLabel* m_gameValue = nullptr;
    QLabel* m_micValue = nullptr;
    QWidget* m_actions = nullptr;
    QPushButton* m_shareButton = nullptr;
    QWidget* m_busyRow = nullptr;
    QLabel* m_busyText = nullptr;
    QProgressBar* m_progressBar = nullptr;
    QLabel* m_errorText = nullptr;
};

} // namespace vantel
