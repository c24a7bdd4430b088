#pragma once

// SIGTERM and SIGINT as a Qt signal on the main thread, so that they end the program the way
// "Quit Vantel Record" does (capture stopped, run folder deleted) instead of killing it midway.
// The handler only writes a byte to a socket pair; the rest runs in the event loop.
//
// Threads: create on the main thread, once per process.

#include <QObject>
#include <QSocketNotifier>
#include <memory>

namespace vantel {

class TerminationSignals : public QObject {
    Q_OBJECT
public:
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;

signals:
    // Emitted for every SIGTERM or SIGINT.
    void requested(int signalNumber);

private:
    std::unique_ptr<QSocketNotifier> m_notifier;
};

} // namespace vantel
