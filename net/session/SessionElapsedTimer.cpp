#include "net/session/SessionElapsedTimer.h"

#include "base/VClock.h"

void SessionElapsedTimer::start()
{
    m_startMs = VClock::monotonicMs();
}

qint64 SessionElapsedTimer::elapsed() const
{
    return isValid() ? VClock::monotonicMs() - m_startMs : -1;
}
