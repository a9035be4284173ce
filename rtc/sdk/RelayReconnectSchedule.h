#pragma once

#include <QtGlobal>

namespace agora {
namespace rtc {

// When a relay that lost (or never reached) its server tries again: 1, 2, 4 and 8 s after the
// first four failures, then every 10 s, for as long as the relay exists. Times are the
// caller's monotonic milliseconds.
class RelayReconnectSchedule
{
public:
    static constexpr int kFirstDelayMs = 1000;
    static constexpr int kMaxDelayMs = 10000;

    // Delay before attempt number `attempt` (1, 2, ...).
    static int delayMs(int attempt);

    // A failure at nowMs: the next attempt is scheduled; returns its number.
    int fail(qint64 nowMs);
    // An attempt is scheduled and its time has come.
    bool isDue(qint64 nowMs) const { return m_pending && nowMs >= m_dueMs; }
    // The scheduled attempt starts now.
    void start() { m_pending = false; }
    // The server answered: the next failure starts over at attempt 1.
    void reset();

    bool isPending() const { return m_pending; }
    int attempt() const { return m_attempt; }
    qint64 dueMs() const { return m_dueMs; }

private:
    int m_attempt = 0;
    qint64 m_dueMs = 0;
    bool m_pending = false;
};

} // namespace rtc
} // namespace agora
