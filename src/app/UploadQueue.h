#pragma once

// The automatic uploads after saves, each a task of its own beside the save flow: one upload at
// a time, later clips waiting in the order they were saved. A finished upload copies its link
// and shows "Link copied" with it; a failed one shows "Couldn't share the clip" with the reason
// (the clip stays saved, without a link). stop() fires the cancellation the uploads were given:
// the running one ends where it waits, the waiting ones are dropped, and nothing is shown.
//
// Threads: main thread.

#include "library/Clip.h"
#include "sharing/Cancellation.h"

#include <QCoro/QCoroTask>
#include <QObject>
#include <deque>
#include <functional>
#include <memory>
#include <optional>

namespace vantel {

class ControllerDesktop;

class UploadQueue : public QObject {
    Q_OBJECT
public:
    // Uploads one clip; its link, or nothing when it was not shared after all. Must end with
    // Cancelled soon after `cancellation` fires.
    using Upload = std::function<QCoro::Task<std::optional<QString>>(
        Clip clip, std::shared_ptr<Cancellation> cancellation)>;

    // `cancellation` stops the uploads; the program fires it when it quits (see stop()).
    UploadQueue(ControllerDesktop& shell, std::shared_ptr<Cancellation> cancellation,
                QObject* parent = nullptr);
    ~UploadQueue() override;

    void setUpload(Upload upload) { m_upload = std::move(upload); }
    // Uploads `clip` now, or after those before it. Nothing once stopped.
    void add(Clip clip);
    // Fires the cancellation: the running upload ends before this returns.
    void stop();
    // The running upload and those waiting.
    int pending() const { return int(m_waiting.size()) + (m_running ? 1 : 0); }

signals:
    // An upload ended (shared, failed or stopped) and the next one, if any, starts.
    void uploadEnded();

private:
    QCoro::Task<> drain();
    QCoro::Task<> runOne(Clip clip);

    ControllerDesktop& m_shell;
    std::shared_ptr<Cancellation> m_cancellation;
    Upload m_upload;
    std::deque<Clip> m_waiting;
    bool m_running = false;
};

} // namespace vantel
