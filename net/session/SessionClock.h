#pragma once

#include <QDateTime>
#include <QtGlobal>

#include <functional>

// Time as the session channel sees it: local wall time (send times, reconnect requests) and a
// monotonic millisecond count (no-network window, reconnect and sweep pacing). Tests replace
// both to walk across the thresholds without waiting; empty functions restore the real clocks.
class SessionClock
{
public:
    using WallClock = std::function<QDateTime()>;
    using MonotonicClock = std::function<qint64()>;

    static QDateTime now();
    static qint64 monotonicMs();

    static void setWallClock(WallClock clock);
    static void setMonotonicClock(MonotonicClock clock);
};
