#include "support/ManualClock.h"

#include "base/VClock.h"

#include <QMutexLocker>

#include <algorithm>

ManualClock::ManualClock(const QDateTime& wall, qint64 monotonicMs) : m_wall(wall), m_monotonicMs(monotonicMs)
{
    VClock::setWallClock([this]() { return this->wall(); });
    VClock::setMonotonicClock([this]() { return this->monotonicMs(); });
    VClock::setTimerStarter([this](int delayMs, QObject* context, std::function<void()> fn) {
        m_timers.push_back({this->monotonicMs() + delayMs, QPointer<QObject>(context), std::move(fn)});
    });
}

ManualClock::~ManualClock()
{
    VClock::setWallClock({});
    VClock::setMonotonicClock({});
    VClock::setTimerStarter({});
}

void ManualClock::advance(qint64 ms)
{
    const qint64 target = monotonicMs() + ms;
    for (;;) {
        // The earliest due timer first; one started by a timer's function joins the queue.
        auto next = std::min_element(m_timers.begin(), m_timers.end(),
                                     [](const Timer& a, const Timer& b) { return a.dueMs < b.dueMs; });
        if (next == m_timers.end() || next->dueMs > target)
            break;
        Timer due = std::move(*next);
        m_timers.erase(next);
        {
            QMutexLocker lock(&m_mutex);
            m_wall = m_wall.addMSecs(due.dueMs - m_monotonicMs);
            m_monotonicMs = due.dueMs;
        }
        if (due.context)
            due.fn();
    }
    QMutexLocker lock(&m_mutex);
    m_wall = m_wall.addMSecs(target - m_monotonicMs);
    m_monotonicMs = target;
}

void ManualClock::setWall(const QDateTime& wall)
{
    QMutexLocker lock(&m_mutex);
    m_wall = wall;
}

QDateTime ManualClock::wall() const
{
    QMutexLocker lock(&m_mutex);
    return m_wall;
}

qint64 ManualClock::monotonicMs() const
{
    QMutexLocker lock(&m_mutex);
    return m_monotonicMs;
}

int ManualClock::pendingTimers() const
{
    return static_cast<int>(m_timers.size());
}
