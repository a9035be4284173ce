#pragma once

#include <QString>
#include <QtGlobal>

// What the engine says about one push while it lasts, and the status line that tells the host:
// live with its time and acknowledged rate, interrupted with the reconnect countdown, failed,
// the recording device gone, or nothing heard. A push is live only once its relay has reached
// the server; until then it is connecting, and one that never gets there has failed. Times are
// the monotonic clock's milliseconds, passed in by the caller.
class PushHealth
{
public:
    // A push whose relay has not reached its server this long after the start has failed.
    static constexpr qint64 kConnectTimeoutMs = 10000;
    // The room hears nothing: the captured level stayed at the bottom of the scale this long
    // while the host is live, not muted and not banned.
    static constexpr qint64 kSilenceWarningMs = 10000;
    // Levels older than this say nothing about now (the capture stopped reporting).
    static constexpr qint64 kLevelStaleMs = 5000;

    void start(qint64 nowMs);
    void relayRunning(qint64 nowMs);
    // The connection dropped; the reconnect announcement follows.
    void relayInterrupted();
    void relayFailed();
    void reconnecting(int attempt, qint64 dueMs);
    void setCaptureLost(bool lost, qint64 nowMs);
    void setRateKbps(int kbps) { m_kbps = kbps; }
    // Whether the room should hear the host: not muted, not banned.
    void setHeard(bool heard, qint64 nowMs);
    // A captured level (0..255). True when it ends a silence warning.
    bool level(int level, qint64 nowMs);

    bool hasConnected() const { return m_everRunning; }
    // Connected once, and now reconnecting or given up.
    bool isInterrupted() const { return m_everRunning && (m_reconnectAttempt > 0 || m_failed); }
    bool isCaptureLost() const { return m_captureLost; }
    // The push never reached its server: its relay gave up first, or the time ran out.
    bool neverConnected(qint64 nowMs) const;
    bool isSilent(qint64 nowMs) const;
    // Empty until the push has first connected (the window says it is connecting), unless the
    // recording device is gone.
    QString statusLine(qint64 nowMs) const;

private:
    qint64 m_startMs = 0;
    bool m_running = false;
    bool m_everRunning = false;
    bool m_failed = false;      // the relay gave up
    int m_reconnectAttempt = 0; // 0: not reconnecting
    qint64 m_reconnectDueMs = 0;
    bool m_captureLost = false;
    int m_kbps = 0;
    bool m_heard = true;
    // Since when the room would have heard only silence (reset by sound and by anything that
    // keeps the host from being heard); when the last level came.
    qint64 m_quietSinceMs = 0;
    qint64 m_lastLevelMs = -1;
};
