#pragma once

#include <QtGlobal>

// QElapsedTimer's subset the channel needs, read from VClock::monotonicMs so that
// tests control it.
class SessionElapsedTimer
{
public:
    bool isValid() const { return m_startMs >= 0; }
    void start();
    void invalidate() { m_startMs = -1; }
    // Milliseconds since start; -1 when not started.
    qint64 elapsed() const;

private:
    qint64 m_startMs = -1;
};
