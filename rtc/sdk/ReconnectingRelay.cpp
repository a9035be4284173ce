#include "rtc/sdk/ReconnectingRelay.h"

#include "rtc/sdk/IRtcEngineEventHandler.h"

#include <algorithm>

namespace agora {
namespace rtc {

ReconnectingRelay::ReconnectingRelay(const QString& url, Hooks hooks) : m_url(url), m_hooks(std::move(hooks))
{
}

bool ReconnectingRelay::start(qint64 nowMs, QString& error)
{
    m_connection = m_hooks.open(m_url, error);
    if (!m_connection)
        return false;
    m_state = State::Connecting;
    m_lastAckMs = m_lastRtmpAckMs = m_windowGrewMs = nowMs;
    m_hooks.connectionChanged();
    return true;
}

int ReconnectingRelay::errorCode(const QString& error, bool wasRunning)
{
    if (wasRunning)
        return kRtmpErrorConnectionLost;
    for (const char* unreachable : {"refused", "resolve", "timed out", "connect"}) {
        if (error.contains(QLatin1String(unreachable), Qt::CaseInsensitive))
            return kRtmpErrorConnectionFailed;
    }
    return kRtmpErrorServerRejected;
}

void ReconnectingRelay::onConnectionError(const IRelayConnection* connection, const QString& error,
                                          qint64 nowMs)
{
    if (!m_connection || m_connection.get() != connection)
        return;
    fail(error, errorCode(error, m_state == State::Running), nowMs);
}

void ReconnectingRelay::retireConnection(int eosWaitMs)
{
    if (!m_connection)
        return;
    std::shared_ptr<IRelayConnection> connection = std::move(m_connection);
    m_connection.reset();
    m_hooks.connectionChanged();
    connection->close(eosWaitMs);
    m_flvBytes = connection->flvBytes();
    m_aacBytes = connection->aacBytes();
    m_doneAckedBytes += m_ackedBytes;
    if (m_flvBytes > 0)
        m_doneAckedAacBytes += m_ackedBytes * m_aacBytes / m_flvBytes;
    m_ackedBytes = m_rtmpAckedBytes = m_flvBytes = m_aacBytes = 0;
    m_windowBytes = m_windowAtGrowth = -1;
    m_ackSamples.clear();
}

void ReconnectingRelay::fail(const QString& error, int code, qint64 nowMs)
{
    retireConnection(0);
    m_state = State::Waiting;
    const int attempt = m_reconnect.fail(nowMs);
    const int delayMs = RelayReconnectSchedule::delayMs(attempt);
    m_hooks.log(QStringLiteral("relay to %1 failed (code %2): %3; next attempt (%4) in %5 ms")
                    .arg(m_url)
                    .arg(code)
                    .arg(error)
                    .arg(attempt)
                    .arg(delayMs));
    const QByteArray bytes = m_url.toUtf8();
    const bool firstPublishFailed = !m_everRunning && attempt == 1;
    m_hooks.notify([bytes, code, attempt, delayMs, firstPublishFailed](IRtcEngineEventHandler* handler) {
        handler->onRtmpStreamingStateChanged(bytes.constData(), kRtmpStateRecovering, code);
        if (firstPublishFailed)
            handler->onStreamPublished(bytes.constData(), code);
        handler->onRtmpStreamingReconnecting(bytes.constData(), attempt, delayMs);
    });
}

void ReconnectingRelay::startAttempt(qint64 nowMs)
{
    m_reconnect.start();
    m_hooks.log(QStringLiteral("relay to %1: attempt %2 to reach the server again")
                    .arg(m_url)
                    .arg(m_reconnect.attempt()));
    QString error;
    if (!start(nowMs, error))
        fail(error, kRtmpErrorInternal, nowMs);
}

void ReconnectingRelay::checkAcknowledgements(qint64 nowMs, qint64 realMs, bool detectStall)
{
    const IRelayConnection::ServerCounts counts = m_connection->serverCounts();
    m_flvBytes = m_connection->flvBytes();
    m_aacBytes = m_connection->aacBytes();
    // The server's RTMP acknowledgements come every window; its TCP's within milliseconds,
    // whatever the window. Whichever confirms more is what has arrived.
    if (counts.ackedBytes > m_rtmpAckedBytes) {
        m_rtmpAckedBytes = counts.ackedBytes;
        m_lastRtmpAckMs = nowMs;
    }
    const uint64_t acked = std::max(counts.ackedBytes, counts.tcpAckedBytes);
    if (acked > m_ackedBytes) {
        m_ackedBytes = acked;
        m_lastAckMs = nowMs;
        m_ackSamples.append(qMakePair(realMs, acked));
        m_fineSamples = counts.tcpAckedBytes >= counts.ackedBytes;
        while (m_ackSamples.size() > 2 && realMs - m_ackSamples.at(1).first >= kRateSpanMs)
            m_ackSamples.removeFirst();
    }
    // A server whose program reads keeps its TCP window open; one that stops lets it shrink
    // with every byte it takes in.
    if (counts.tcpWindowBytes >= 0 && (m_windowBytes < 0 || counts.tcpWindowBytes >= m_windowBytes)) {
        m_windowGrewMs = nowMs;
        m_windowAtGrowth = counts.tcpWindowBytes;
    }
    m_windowBytes = counts.tcpWindowBytes;
    if (!detectStall)
        return;
    // A server that stops reading sends no error. Its RTMP layer stops acknowledging and its
    // window shrinks at once; its TCP acknowledges until its buffer is full. Any of them for
    // kAckStallMs has lost it.
    const uint64_t window = counts.ackWindowBytes;
    QString stall;
    if (window > 0 && counts.sentBytes > m_rtmpAckedBytes + 2 * window && nowMs - m_lastRtmpAckMs >= kAckStallMs)
        stall = QStringLiteral("the server has acknowledged nothing for %1 ms (%2 bytes owed)")
                    .arg(nowMs - m_lastRtmpAckMs)
                    .arg(counts.sentBytes - m_rtmpAckedBytes);
    else if (counts.tcpKnown && counts.tcpWaitingBytes > 0 && nowMs - m_lastAckMs >= kAckStallMs)
        stall = QStringLiteral("the server's TCP has acknowledged nothing for %1 ms (%2 bytes waiting)")
                    .arg(nowMs - m_lastAckMs)
                    .arg(counts.tcpWaitingBytes);
    else if (m_windowBytes >= 0 && m_windowAtGrowth - m_windowBytes >= kWindowShrinkBytes &&
             nowMs - m_windowGrewMs >= kAckStallMs)
        stall = QStringLiteral("the server has read nothing for %1 ms (its window shrank from %2 to %3 bytes)")
                    .arg(nowMs - m_windowGrewMs)
                    .arg(m_windowAtGrowth)
                    .arg(m_windowBytes);
    if (!stall.isEmpty())
        fail(stall, kRtmpErrorNoAcknowledgement, nowMs);
}

void ReconnectingRelay::poll(qint64 nowMs, qint64 realMs)
{
    switch (m_state) {
    case State::Waiting:
        if (m_reconnect.isDue(nowMs))
            startAttempt(nowMs);
        break;
    case State::Connecting: {
        if (!m_connection->isConnected())
            break;
        m_state = State::Running;
        m_lastAckMs = m_lastRtmpAckMs = m_windowGrewMs = nowMs;
        const int attempts = m_reconnect.attempt();
        m_reconnect.reset();
        const bool first = !m_everRunning;
        m_everRunning = true;
        m_hooks.log(
            attempts > 0
                ? QStringLiteral("relay to %1 running again after %2 attempts").arg(m_url).arg(attempts)
                : QStringLiteral("relay to %1 running").arg(m_url));
        const QByteArray bytes = m_url.toUtf8();
        m_hooks.notify([bytes, first](IRtcEngineEventHandler* handler) {
            handler->onRtmpStreamingStateChanged(bytes.constData(), kRtmpStateRunning, kRtmpErrorOk);
            if (first)
                handler->onStreamPublished(bytes.constData(), kRtmpErrorOk);
        });
        break;
    }
    case State::Running:
        checkAcknowledgements(nowMs, realMs, true);
        break;
    }
}

void ReconnectingRelay::stop(qint64 nowMs, qint64 realMs, bool report)
{
    const bool running = m_connection && m_state == State::Running;
    // Last look at the acknowledgements, then let the stream drain (a connecting relay has
    // nothing to drain and must not hold the caller up).
    if (running)
        checkAcknowledgements(nowMs, realMs, false);
    const uint64_t acked = m_ackedBytes;
    const uint64_t handedOver = m_connection ? m_connection->flvBytes() : 0;
    retireConnection(running ? 1000 : 0);
    m_hooks.log(QStringLiteral("relay to %1 stopped: %2 bytes acknowledged by the server (%3 handed over)")
                    .arg(m_url)
                    .arg(acked)
                    .arg(handedOver));
    if (report) {
        const QByteArray bytes = m_url.toUtf8();
        m_hooks.notify([bytes](IRtcEngineEventHandler* handler) {
            handler->onRtmpStreamingStateChanged(bytes.constData(), kRtmpStateIdle, kRtmpErrorOk);
            handler->onStreamUnpublished(bytes.constData());
        });
    }
}

uint64_t ReconnectingRelay::ackedBytes() const
{
    return m_doneAckedBytes + m_ackedBytes;
}

uint64_t ReconnectingRelay::ackedAacBytes() const
{
    return m_doneAckedAacBytes + (m_flvBytes > 0 ? m_ackedBytes * m_aacBytes / m_flvBytes : 0);
}

uint64_t ReconnectingRelay::ackedKBitRate(qint64 realMs) const
{
    if (m_state != State::Running || m_ackSamples.size() < 2)
        return 0;
    const auto& first = m_ackSamples.first();
    const auto& last = m_ackSamples.last();
    // A server that has gone quiet is acknowledging nothing now.
    if (realMs - last.first >= kAckStallMs || last.first - first.first < (m_fineSamples ? 500 : 1000))
        return 0;
    return (last.second - first.second) * 8 / static_cast<uint64_t>(last.first - first.first);
}

} // namespace rtc
} // namespace agora
