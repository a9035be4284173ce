#include "net/session/SessionElapsedTimer.h"

#include "net/session/SessionClock.h"

void SessionElapsedTimer::start()
{
    m_startMs = SessionClock::monotonicMs();
}

qint64 SessionElapsedTimer::elapsed() const
{
    return isValid() ? SessionClock::monotonicMs() - m_startMs : -1;
}
