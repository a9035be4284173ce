#include "net/session/SessionClock.h"

#include <QElapsedTimer>

namespace {

SessionClock::WallClock& wallClock()
{
    static SessionClock::WallClock clock;
    return clock;
}

SessionClock::MonotonicClock& monotonicClock()
{
    static SessionClock::MonotonicClock clock;
    return clock;
}

} // namespace

QDateTime SessionClock::now()
{
    return wallClock() ? wallClock()() : QDateTime::currentDateTime();
}

qint64 SessionClock::monotonicMs()
{
    if (monotonicClock())
        return monotonicClock()();
    static QElapsedTimer origin;
    if (!origin.isValid())
        origin.start();
    return origin.elapsed();
}

void SessionClock::setWallClock(WallClock clock)
{
    wallClock() = std::move(clock);
}

void SessionClock::setMonotonicClock(MonotonicClock clock)
{
    monotonicClock() = std::move(clock);
}
