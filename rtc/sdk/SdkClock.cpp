#include "rtc/sdk/SdkClock.h"

#include <QElapsedTimer>
#include <QMutex>
#include <QMutexLocker>

namespace agora {
namespace rtc {

namespace {

QMutex& sourceMutex()
{
    static QMutex mutex;
    return mutex;
}

SdkClock::Source& sourceSlot()
{
    static SdkClock::Source source;
    return source;
}

qint64 realNowMs()
{
    static QElapsedTimer clock;
    if (!clock.isValid())
        clock.start();
    return clock.elapsed();
}

} // namespace

qint64 SdkClock::nowMs()
{
    QMutexLocker lock(&sourceMutex());
    return sourceSlot() ? sourceSlot()() : realNowMs();
}

void SdkClock::setSource(Source source)
{
    QMutexLocker lock(&sourceMutex());
    sourceSlot() = std::move(source);
}

} // namespace rtc
} // namespace agora
