#pragma once

#include <QDateTime>
#include <QMutex>
#include <QPointer>

#include <functional>
#include <vector>

// Time that moves only when the test says so: installed into VClock (wall, monotonic and the
// timers of time limits) for its lifetime. Wall and monotonic time move together.
class ManualClock
{
public:
    explicit ManualClock(const QDateTime& wall = QDateTime(QDate(2026, 3, 4), QTime(5, 6, 7, 8)),
                         qint64 monotonicMs = 5000000);
    ~ManualClock();
    ManualClock(const ManualClock&) = delete;
    ManualClock& operator=(const ManualClock&) = delete;

    // Moves time on and fires, in due order, the timers that came due (whose context lives).
    void advance(qint64 ms);
    void setWall(const QDateTime& wall);
    QDateTime wall() const;
    qint64 monotonicMs() const;
    // Timers not fired yet (including those whose context has gone).
    int pendingTimers() const;

private:
    struct Timer
    {
        qint64 dueMs = 0;
        QPointer<QObject> context;
        std::function<void()> fn;
    };

    mutable QMutex m_mutex;
    QDateTime m_wall;
    qint64 m_monotonicMs = 0;
    std::vector<Timer> m_timers; // GUI thread only
};
