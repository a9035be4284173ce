#include "workflow/PushHealth.h"

namespace {

QString clockText(qint64 seconds)
{
    return QStringLiteral("%1:%2:%3")
        .arg(seconds / 3600, 2, 10, QLatin1Char('0'))
        .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

} // namespace

void PushHealth::start(qint64 nowMs)
{
    const bool heard = m_heard;
    *this = PushHealth();
    m_heard = heard;
    m_startMs = nowMs;
    m_quietSinceMs = nowMs;
}

void PushHealth::relayRunning(qint64 nowMs)
{
    if (!m_running)
        m_quietSinceMs = nowMs; // nothing went out before: the silence counts from now
    m_running = true;
    m_everRunning = true;
    m_failed = false;
    m_reconnectAttempt = 0;
}

void PushHealth::relayInterrupted()
{
    m_running = false;
    m_kbps = 0;
}

void PushHealth::relayFailed()
{
    m_running = false;
    m_failed = true;
    m_kbps = 0;
}

void PushHealth::reconnecting(int attempt, qint64 dueMs)
{
    m_running = false;
    m_reconnectAttempt = attempt;
    m_reconnectDueMs = dueMs;
}

void PushHealth::setCaptureLost(bool lost, qint64 nowMs)
{
    if (m_captureLost && !lost)
        m_quietSinceMs = nowMs;
    m_captureLost = lost;
}

void PushHealth::setHeard(bool heard, qint64 nowMs)
{
    if (heard != m_heard)
        m_quietSinceMs = nowMs;
    m_heard = heard;
}

bool PushHealth::level(int level, qint64 nowMs)
{
    const bool wasSilent = isSilent(nowMs);
    // After a gap in the levels nothing is known of what came before.
    const bool gap = m_lastLevelMs < 0 || nowMs - m_lastLevelMs >= kLevelStaleMs;
    m_lastLevelMs = nowMs;
    if (gap || level > 0 || !m_heard || !m_running)
        m_quietSinceMs = nowMs;
    return wasSilent && !isSilent(nowMs);
}

bool PushHealth::neverConnected(qint64 nowMs) const
{
    return !m_everRunning && (m_failed || nowMs - m_startMs >= kConnectTimeoutMs);
}

bool PushHealth::isSilent(qint64 nowMs) const
{
    return m_running && m_heard && !m_captureLost && m_lastLevelMs >= 0 && nowMs - m_lastLevelMs < kLevelStaleMs &&
           nowMs - m_quietSinceMs >= kSilenceWarningMs;
}

QString PushHealth::statusLine(qint64 nowMs) const
{
    if (m_reconnectAttempt > 0) {
        // Before the push was ever live nothing was interrupted: the server was not reached.
        const qint64 leftMs = m_reconnectDueMs - nowMs;
        if (leftMs > 1000)
            return (m_everRunning ? QStringLiteral("推流中断，%1 秒后重连（第 %2 次）…")
                                  : QStringLiteral("连接推流服务器失败，%1 秒后重试（第 %2 次）…"))
                .arg((leftMs + 999) / 1000)
                .arg(m_reconnectAttempt);
        return (m_everRunning ? QStringLiteral("推流中断，正在重连（第 %1 次）…")
                              : QStringLiteral("连接推流服务器失败，正在重试（第 %1 次）…"))
            .arg(m_reconnectAttempt);
    }
    if (m_failed)
        return QStringLiteral("推流失败，请结束直播后重试");
    if (m_captureLost)
        return QStringLiteral("录音设备已断开");
    if (!m_running)
        return m_everRunning ? QStringLiteral("正在连接推流服务器…") : QString();
    if (isSilent(nowMs))
        return QStringLiteral("没有检测到声音，请检查录音设备和音量");
    const QString pushed = QStringLiteral("已推流 %1").arg(clockText((nowMs - m_startMs) / 1000));
    // A rate appears once the server has acknowledged enough to measure one; "0 kbps" before
    // that would be untrue.
    if (m_kbps <= 0)
        return pushed;
    return pushed + QStringLiteral(" · %1 kbps").arg(m_kbps);
}
