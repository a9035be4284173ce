#pragma once

#include "rtc/sdk/IRelayConnection.h"
#include "rtc/sdk/RelayReconnectSchedule.h"

#include <QList>
#include <QPair>
#include <QString>

#include <functional>
#include <memory>

namespace agora {
namespace rtc {

class IRtcEngineEventHandler;

// One publish address for as long as it is published: opens its connection, decides when a
// lost or unreachable server is tried again (on the RelayReconnectSchedule), books what the
// server acknowledged and fails a connection whose server stopped acknowledging. Reports the
// RTMP state callbacks and its SDK log lines through the hooks. SDK thread only; times are
// passed in (the monotonic clock for the schedule and the stall, a real one for the rate).
class ReconnectingRelay
{
public:
    // A running connection whose server owes more than two RTMP acknowledgement windows, or
    // whose TCP owes anything, and that has been acknowledged nothing for this long has lost
    // its server (a server that stops reading sends no error: the connection just stops moving).
    static constexpr qint64 kAckStallMs = 3000;
    // A TCP window that shrank by this much without growing for kAckStallMs belongs to a server
    // that stopped reading.
    static constexpr int64_t kWindowShrinkBytes = 8192;
    // The acknowledged rate is measured over this span.
    static constexpr qint64 kRateSpanMs = 6000;

    using Notify = std::function<void(std::function<void(IRtcEngineEventHandler*)>)>;
    struct Hooks
    {
        // Opens and starts a connection; null with error when it does not start.
        std::function<std::shared_ptr<IRelayConnection>(const QString& url, QString& error)> open;
        Notify notify;
        std::function<void(const QString& line)> log;
        // The current connection was opened or closed (what the capture feeds changes).
        std::function<void()> connectionChanged;
    };

    ReconnectingRelay(const QString& url, Hooks hooks);
    ReconnectingRelay(const ReconnectingRelay&) = delete;
    ReconnectingRelay& operator=(const ReconnectingRelay&) = delete;

    // The first connection; false (nothing reported) when it does not start.
    bool start(qint64 nowMs, QString& error);
    // The current connection failed (a bus error); an error of an earlier one is ignored.
    void onConnectionError(const IRelayConnection* connection, const QString& error, qint64 nowMs);
    // The regular look: a due attempt starts, a connection that reached its server runs, a
    // running one books its acknowledgements or, stalled, fails.
    void poll(qint64 nowMs, qint64 realMs);
    // Removes the address: last look at the acknowledgements, the stream drains, with report
    // the application hears that it stopped.
    void stop(qint64 nowMs, qint64 realMs, bool report);

    // The code a failed connection reports, from its error text.
    static int errorCode(const QString& error, bool wasRunning);

    QString url() const { return m_url; }
    bool isWaiting() const { return m_state == State::Waiting; }
    bool isRunning() const { return m_state == State::Running; }
    std::shared_ptr<IRelayConnection> connection() const { return m_connection; }

    // Acknowledged FLV bytes of every connection so far, and the AAC share of them (estimated
    // from each connection's AAC-to-FLV ratio).
    uint64_t ackedBytes() const;
    uint64_t ackedAacBytes() const;
    // Of the current connection, as last seen.
    uint64_t flvBytes() const { return m_flvBytes; }
    uint64_t aacBytes() const { return m_aacBytes; }
    // The acknowledged rate of a running connection over the last kRateSpanMs (real ms), once
    // its samples span a second (half a second from the connection's TCP).
    uint64_t ackedKBitRate(qint64 realMs) const;

private:
    enum class State
    {
        Connecting,
        Running,
        Waiting // for the next attempt to reach the server; no connection
    };

    void fail(const QString& error, int code, qint64 nowMs);
    void startAttempt(qint64 nowMs);
    // Ends the connection (if any) and books its counts; no events.
    void retireConnection(int eosWaitMs);
    void checkAcknowledgements(qint64 nowMs, qint64 realMs, bool detectStall);

    const QString m_url;
    const Hooks m_hooks;
    std::shared_ptr<IRelayConnection> m_connection; // null while waiting
    State m_state = State::Connecting;
    RelayReconnectSchedule m_reconnect;
    bool m_everRunning = false;
    // The current connection's counts, as last seen.
    uint64_t m_ackedBytes = 0;
    uint64_t m_flvBytes = 0;
    uint64_t m_aacBytes = 0;
    qint64 m_lastAckMs = 0;
    // The server's RTMP acknowledgements alone.
    uint64_t m_rtmpAckedBytes = 0;
    qint64 m_lastRtmpAckMs = 0;
    // The server's TCP window as last seen, and when and at what size it last grew or held.
    int64_t m_windowBytes = -1;
    qint64 m_windowGrewMs = 0;
    int64_t m_windowAtGrowth = -1;
    // (real ms, acknowledged bytes) whenever the acknowledgement moved, newest last.
    QList<QPair<qint64, uint64_t>> m_ackSamples;
    // The samples come from the connection's TCP, which acknowledges every few milliseconds:
    // half a second measures a rate (the server's own windows need a second).
    bool m_fineSamples = false;
    // Of connections already ended.
    uint64_t m_doneAckedBytes = 0;
    uint64_t m_doneAckedAacBytes = 0;
};

} // namespace rtc
} // namespace agora
