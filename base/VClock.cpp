#include "base/VClock.h"

#include <QElapsedTimer>
#include <QMutex>
#include <QMutexLocker>
#include <QTimer>

namespace {

struct Hooks
{
    QMutex mutex;
    VClock::WallClock wall;
    VClock::MonotonicClock monotonic;
    VClock::TimerStarter timers;
};

Hooks& hooks()
{
    static Hooks instance;
    return instance;
}

// Copied under the lock and called outside it: a replacement may itself read the clock.
template <typename T> T hook(T Hooks::*member)
{
    QMutexLocker lock(&hooks().mutex);
    return hooks().*member;
}

template <typename T> void setHook(T Hooks::*member, T value)
{
    QMutexLocker lock(&hooks().mutex);
    hooks().*member = std::move(value);
}

} // namespace

QDateTime VClock::now()
{
    const WallClock wall = hook(&Hooks::wall);
    return wall ? wall() : QDateTime::currentDateTime();
}

qint64 VClock::nowMsSinceEpoch()
{
    const WallClock wall = hook(&Hooks::wall);
    return wall ? wall().toMSecsSinceEpoch() : QDateTime::currentMSecsSinceEpoch();
}

qint64 VClock::monotonicMs()
{
    if (const MonotonicClock monotonic = hook(&Hooks::monotonic))
        return monotonic();
    static const QElapsedTimer origin = []() {
        QElapsedTimer timer;
        timer.start();
        return timer;
    }();
    return origin.elapsed();
}

void VClock::callAfter(int delayMs, QObject* context, std::function<void()> fn)
{
    if (const TimerStarter timers = hook(&Hooks::timers)) {
        timers(delayMs, context, std::move(fn));
        return;
    }
    // A coarse timer may fire 5 % early.
    QTimer::singleShot(delayMs, Qt::PreciseTimer, context, std::move(fn));
}

void VClock::setWallClock(WallClock clock)
{
    setHook(&Hooks::wall, std::move(clock));
}

void VClock::setMonotonicClock(MonotonicClock clock)
{
    setHook(&Hooks::monotonic, std::move(clock));
}

void VClock::setTimerStarter(TimerStarter starter)
{
    setHook(&Hooks::timers, std::move(starter));
}
