#include "UploadQueue.h"

#include "ControllerDesktop.h"
#include "engine/CaptureController.h"
#include "ui/Theme.h"

namespace vantel {

UploadQueue::UploadQueue(ControllerDesktop& shell, std::shared_ptr<Cancellation> cancellation,
                         QObject* parent)
    : QObject(parent)
    , m_shell(shell)
    , m_cancellation(std::move(cancellation)) {}

// A running upload must not come back to a queue that is gone.
UploadQueue::~UploadQueue() {
    stop();
}

void UploadQueue::add(Clip clip) {
    if (m_cancellation->cancelled() || !m_upload)
        return;
    m_waiting.push_back(std::move(clip));
    if (!m_running)
        drain();
}

void UploadQueue::stop() {
    m_waiting.clear();
    m_cancellation->cancel();
}

QCoro::Task<> UploadQueue::drain() {
    m_running = true;
    while (!m_waiting.empty() && !m_cancellation->cancelled()) {
        Clip clip = std::move(m_waiting.front());
        m_waiting.pop_front();
        auto running = runOne(std::move(clip));
        co_await std::move(running);
        emit uploadEnded();
    }
    m_running = false;
}

QCoro::Task<> UploadQueue::runOne(Clip clip) {
    try {
        auto uploading = unlessCancelled(m_upload(std::move(clip), m_cancellation), m_cancellation);
        if (const std::optional<QString> link = co_await std::move(uploading)) {
            copyText(*link);
            m_shell.toast(QStringLiteral("Link copied"), *link, ToastKind::success);
        }
    } catch (const Cancelled&) {
        // Stopped on purpose (the program quits): nothing to tell.
    } catch (const std::exception& error) {
        m_shell.toast(QStringLiteral("Couldn't share the clip"),
                      QString::fromStdString(CaptureController::explain(error)),
                      ToastKind::problem);
    }
}

} // namespace vantel
