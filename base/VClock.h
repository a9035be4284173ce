#pragma once

#include <QDateTime>
#include <QtGlobal>

#include <functional>

class QObject;

// The program's one clock: local wall time, a monotonic millisecond count, and the one-shot
// timers of time limits. Every unit asks it, so tests replace it to walk across thresholds
// without waiting; empty functions restore the real clock. Readable from any thread; timers
// belong to the GUI thread.
class VClock
{
public:
    using WallClock = std::function<QDateTime()>;
    using MonotonicClock = std::function<qint64()>;
    using TimerStarter = std::function<void(int delayMs, QObject* context, std::function<void()> fn)>;

    static QDateTime now();
    // The same instant as now() in milliseconds since the epoch, without the cost of a local
    // time conversion: for hot paths that only compare instants.
    static qint64 nowMsSinceEpoch();
    static qint64 monotonicMs();
    // Calls fn once after delayMs (a precise timer), unless context is destroyed first.
    static void callAfter(int delayMs, QObject* context, std::function<void()> fn);

    static void setWallClock(WallClock clock);
    static void setMonotonicClock(MonotonicClock clock);
    static void setTimerStarter(TimerStarter starter);
};
