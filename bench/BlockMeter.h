#pragma once

// The longest stretch the main thread went without serving its event loop, measured as the
// gaps between ticks of a 5 ms timer: in wall time, in the thread's own CPU time and in its time
// waiting for a core. Used by the benchmarks that keep a window open.

#include <QElapsedTimer>
#include <QFile>
#include <QObject>
#include <QTimer>
#include <algorithm>
#include <ctime>

namespace vantel::bench {

// CPU time of the calling thread: how long it really worked, whatever the machine's load.
inline qint64 threadCpuNs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return qint64(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

// Nanoseconds the calling thread has spent runnable but waiting for a core.
inline qint64 threadRunQueueNs() {
    QFile stats(QStringLiteral("/proc/thread-self/schedstat"));
    if (!stats.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = stats.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toLongLong() : 0;
}

// Longest gap between ticks of a short timer, in wall time, in the main thread's own CPU time
// and in its time waiting for a core.
class BlockMeter : public QObject {
public:
    struct Longest {
        qint64 wall = 0, busy = 0, waiting = 0;
    };

    BlockMeter() {
        m_timer.setInterval(5);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            const Longest now{m_clock.nsecsElapsed(), threadCpuNs(), threadRunQueueNs()};
            for (Longest* longest : {&m_longest, &m_phase}) {
                longest->wall = std::max(longest->wall, now.wall - m_last.wall);
                longest->busy = std::max(longest->busy, now.busy - m_last.busy);
                longest->waiting = std::max(longest->waiting, now.waiting - m_last.waiting);
            }
            m_last = now;
        });
    }
    void start() {
        m_clock.start();
        m_last = {0, threadCpuNs(), threadRunQueueNs()};
        m_timer.start();
    }
    const Longest& longest() const { return m_longest; }
    // The longest gap since the previous call; `busyMs` gets the most CPU time in one gap.
    double phaseMs(double* busyMs = nullptr) {
        const double ms = m_phase.wall / 1e6;
        if (busyMs)
            *busyMs = m_phase.busy / 1e6;
        m_phase = {};
        return ms;
    }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    Longest m_last, m_longest, m_phase;
};
} // namespace vantel::bench
