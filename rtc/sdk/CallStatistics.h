#pragma once

#include "rtc/sdk/RtcTypes.h"

#include <QElapsedTimer>
#include <QList>

#include <cstdint>
#include <functional>

namespace agora {
namespace rtc {

class IRtcEngineEventHandler;
class LocalAudioCapture;
class ReconnectingRelay;

// What onRtcStats and onLeaveChannel report for one stay in the channel: only what the servers
// acknowledged counts as sent (relays removed meanwhile included), the acknowledged rate, and
// the CPU use of the process and of the machine. Also the sending quality onNetworkQuality
// reports, and the regular report of them. SDK thread only.
class CallStatistics
{
public:
    // A new stay in the channel: totals, clocks and the CPU baseline start over.
    void start();
    // A relay about to be removed: its acknowledged counts stay in the totals.
    void retire(const ReconnectingRelay& relay);
    // Real milliseconds since start(): the clock of the relays' rate samples.
    qint64 realMs() const { return m_rateClock.elapsed(); }
    // Milliseconds since the last report (at least 1); with restart, a new interval begins.
    unsigned int intervalMs(bool restart);

    // The figures over the last intervalMs; inChannelMs is the time since joining.
    RtcStats current(const QList<const ReconnectingRelay*>& relays, unsigned int intervalMs,
                     qint64 inChannelMs);
    // The regular report (a new interval begins): onRtcStats, onLocalAudioStats, the level
    // unless the device test reports it on its own, and onNetworkQuality.
    std::function<void(IRtcEngineEventHandler*)> report(const QList<const ReconnectingRelay*>& relays,
                                                        qint64 inChannelMs, LocalAudioCapture& capture);
    // 0 unknown (nothing is sent), 1 excellent (every relay runs), 6 down (one waits to
    // reach its server again).
    static int txQuality(const QList<const ReconnectingRelay*>& relays, bool capturing);

private:
    // Of relays already removed: acknowledged FLV bytes and the AAC share of them.
    uint64_t m_removedAckedBytes = 0;
    uint64_t m_removedAckedAacBytes = 0;
    QElapsedTimer m_rateClock;
    QElapsedTimer m_intervalClock;
    long m_lastCpuAppUs = 0;
    unsigned long long m_lastCpuTotal = 0;
    unsigned long long m_lastCpuIdle = 0;
    double m_cpuTotalUsage = 0.0;
};

} // namespace rtc
} // namespace agora
