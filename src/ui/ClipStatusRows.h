#pragma once

// The bottom of the clip detail view: what is running now ("Preparing", "Saving", an upload's
// stage) with its progress bar, and under it the last failure in red. Each line shows only
// while it has something to say.
//
// Thread: main thread.

#include <QWidget>
#include <optional>

class QLabel;
class QProgressBar;

namespace vantel {

class ClipStatusRows : public QWidget {
    Q_OBJECT
public:
    explicit ClipStatusRows(QWidget* parent = nullptr);

    // No stage: nothing is running. `progress` runs from 0 to 1 (clamped).
    void setBusy(const std::optional<QString>& stage, double progress = 0.0);
    void setError(const std::optional<QString>& message);

private:
    QWidget* m_busyRow = nullptr;
    QLabel* m_busyText = nullptr;
    QProgressBar* m_progressBar = nullptr;
    QLabel* m_errorText = nullptr;
};

} // namespace vantel
