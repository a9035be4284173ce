#include "rtc/sdk/RelayReconnectSchedule.h"

namespace agora {
namespace rtc {

int RelayReconnectSchedule::delayMs(int attempt)
{
    if (attempt <= 1)
        return kFirstDelayMs;
    if (attempt > 4)
        return kMaxDelayMs;
    return kFirstDelayMs << (attempt - 1);
}

int RelayReconnectSchedule::fail(qint64 nowMs)
{
    ++m_attempt;
    m_dueMs = nowMs + delayMs(m_attempt);
    m_pending = true;
    return m_attempt;
}

void RelayReconnectSchedule::reset()
{
    m_attempt = 0;
    m_dueMs = 0;
    m_pending = false;
}

} // namespace rtc
} // namespace agora
