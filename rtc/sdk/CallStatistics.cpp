#include "rtc/sdk/CallStatistics.h"

#include "rtc/sdk/GstFedPipeline.h"
#include "rtc/sdk/IRtcEngineEventHandler.h"
#include "rtc/sdk/LocalAudioCapture.h"
#include "rtc/sdk/ReconnectingRelay.h"

#include <QFile>
#include <QThread>

#include <sys/resource.h>

namespace agora {
namespace rtc {

namespace {

long processCpuMicroseconds()
{
    struct rusage usage = {};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000000L + usage.ru_utime.tv_usec +
           usage.ru_stime.tv_usec;
}

// Total and idle jiffies of the whole machine.
bool machineCpu(unsigned long long& total, unsigned long long& idle)
{
    QFile file(QStringLiteral("/proc/stat"));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QList<QByteArray> fields = file.readLine().simplified().split(' ');
    if (fields.size() < 5 || fields.first() != "cpu")
        return false;
    total = 0;
    for (int i = 1; i < fields.size(); ++i)
        total += fields.at(i).toULongLong();
    idle = fields.at(4).toULongLong() + (fields.size() > 5 ? fields.at(5).toULongLong() : 0);
    return true;
}

} // namespace

void CallStatistics::start()
{
    m_removedAckedBytes = m_removedAckedAacBytes = 0;
    m_rateClock.start();
    m_lastCpuAppUs = processCpuMicroseconds();
    machineCpu(m_lastCpuTotal, m_lastCpuIdle);
    m_cpuTotalUsage = 0.0;
    m_intervalClock.start();
}

void CallStatistics::retire(const ReconnectingRelay& relay)
{
    m_removedAckedBytes += relay.ackedBytes();
    m_removedAckedAacBytes += relay.ackedAacBytes();
}

unsigned int CallStatistics::intervalMs(bool restart)
{
    const qint64 ms = restart ? m_intervalClock.restart() : m_intervalClock.elapsed();
    return static_cast<unsigned int>(qMax<qint64>(1, ms));
}

RtcStats CallStatistics::current(const QList<const ReconnectingRelay*>& relays, unsigned int intervalMs,
                                 qint64 inChannelMs)
{
    RtcStats stats;
    uint64_t acked = m_removedAckedBytes;
    uint64_t ackedAac = m_removedAckedAacBytes;
    uint64_t flv = 0;
    uint64_t aac = 0;
    uint64_t rate = 0;
    const qint64 realMs = m_rateClock.elapsed();
    for (const ReconnectingRelay* relay : relays) {
        acked += relay->ackedBytes();
        ackedAac += relay->ackedAacBytes();
        flv += relay->flvBytes();
        aac += relay->aacBytes();
        rate += relay->ackedKBitRate(realMs);
    }
    rate = qMin<uint64_t>(rate, 65535);
    const unsigned int interval = qMax(1u, intervalMs);
    stats.duration = static_cast<unsigned int>(inChannelMs / 1000);
    stats.txBytes = static_cast<unsigned int>(acked);
    stats.txAudioBytes = static_cast<unsigned int>(ackedAac);
    stats.txKBitRate = static_cast<unsigned short>(rate);
    stats.txAudioKBitRate = static_cast<unsigned short>(flv > 0 ? rate * aac / flv : 0);
    stats.userCount = 1;

    const long cpuUs = processCpuMicroseconds();
    const int cores = qMax(1, QThread::idealThreadCount());
    stats.cpuAppUsage =
        qBound(0.0, 100.0 * static_cast<double>(cpuUs - m_lastCpuAppUs) / (interval * 1000.0) / cores, 100.0);
    unsigned long long total = 0;
    unsigned long long idle = 0;
    // Too few clock ticks since the last look say nothing; keep the last figure then.
    constexpr unsigned long long kMinTicks = 50;
    if (machineCpu(total, idle) && total >= m_lastCpuTotal + kMinTicks) {
        m_cpuTotalUsage = 100.0 * (1.0 - static_cast<double>(idle - m_lastCpuIdle) /
                                             static_cast<double>(total - m_lastCpuTotal));
        m_lastCpuTotal = total;
        m_lastCpuIdle = idle;
    }
    stats.cpuTotalUsage = m_cpuTotalUsage;
    m_lastCpuAppUs = cpuUs;
    return stats;
}

std::function<void(IRtcEngineEventHandler*)>
CallStatistics::report(const QList<const ReconnectingRelay*>& relays, qint64 inChannelMs,
                       LocalAudioCapture& capture)
{
    const RtcStats stats = current(relays, intervalMs(true), inChannelMs);
    LocalAudioStats local;
    local.numChannels = GstFedPipeline::kChannels;
    local.sentSampleRate = GstFedPipeline::kSampleRate;
    local.sentBitrate = stats.txAudioKBitRate;
    // The device test reports the level on its own, more often.
    const bool withLevel = !capture.reportsLevelItself();
    const AudioVolumeInfo speaker = withLevel ? capture.takeLevel() : AudioVolumeInfo();
    const int totalVolume = static_cast<int>(speaker.volume);
    const int quality = txQuality(relays, capture.isCapturing());
    return [stats, local, withLevel, speaker, totalVolume, quality](IRtcEngineEventHandler* handler) {
        handler->onRtcStats(stats);
        handler->onLocalAudioStats(local);
        if (withLevel)
            handler->onAudioVolumeIndication(&speaker, 1, totalVolume);
        handler->onNetworkQuality(0, quality, 0);
    };
}

int CallStatistics::txQuality(const QList<const ReconnectingRelay*>& relays, bool capturing)
{
    bool anyWaiting = false;
    bool allRunning = !relays.isEmpty();
    for (const ReconnectingRelay* relay : relays) {
        anyWaiting = anyWaiting || relay->isWaiting();
        allRunning = allRunning && relay->isRunning();
    }
    if (anyWaiting)
        return 6;
    return capturing && allRunning ? 1 : 0;
}

} // namespace rtc
} // namespace agora
