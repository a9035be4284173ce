#include "rtc/sdk/RelaySet.h"

#include "base/VClock.h"
#include "rtc/sdk/CallStatistics.h"
#include "rtc/sdk/GstRelay.h"
#include "rtc/sdk/SdkEventLoop.h"

namespace agora {
namespace rtc {

RelaySet::RelaySet(SdkEventLoop& loop, CallStatistics& statistics, ReconnectingRelay::Hooks hooks)
    : m_loop(loop), m_statistics(statistics), m_hooks(std::move(hooks))
{
    m_hooks.open = [this](const QString& url, QString& error) { return open(url, error); };
}

RelaySet::~RelaySet()
{
    m_loop.removeTimer(m_pollTimer);
}

const ReconnectingRelay* RelaySet::find(const QString& url) const
{
    const auto it = m_relays.find(url);
    return it == m_relays.end() ? nullptr : it->second.get();
}

bool RelaySet::add(const QString& url, QString& error)
{
    // In the map first: the capture's feed is taken from it once the connection is open.
    ReconnectingRelay& relay = *(m_relays[url] = std::make_unique<ReconnectingRelay>(url, m_hooks));
    if (!relay.start(VClock::monotonicMs(), error)) {
        m_relays.erase(url);
        return false;
    }
    m_connectingPolls = 0;
    schedulePoll();
    return true;
}

void RelaySet::remove(const QString& url, bool report)
{
    const auto it = m_relays.find(url);
    if (it == m_relays.end())
        return;
    const std::unique_ptr<ReconnectingRelay> relay = std::move(it->second);
    m_relays.erase(it);
    relay->stop(VClock::monotonicMs(), m_statistics.realMs(), report);
    m_statistics.retire(*relay);
    schedulePoll();
}

void RelaySet::removeAll(bool report)
{
    while (!m_relays.empty())
        remove(m_relays.begin()->first, report);
}

std::shared_ptr<IRelayConnection> RelaySet::open(const QString& url, QString& error)
{
    auto relay = std::make_shared<GstRelay>(m_loop, url);
    std::weak_ptr<GstRelay> weak = relay;
    relay->onError = [this, url, weak](const QString& failure) {
        m_loop.post([this, url, weak, failure] {
            const std::shared_ptr<GstRelay> failed = weak.lock();
            const auto it = m_relays.find(url);
            if (failed && it != m_relays.end()) {
                it->second->onConnectionError(failed.get(), failure, VClock::monotonicMs());
                schedulePoll(); // no longer all running
            }
        });
    };
    if (!relay->start(error))
        return nullptr;
    return relay;
}

void RelaySet::poll()
{
    const qint64 nowMs = VClock::monotonicMs();
    for (const auto& relay : m_relays)
        relay.second->poll(nowMs, m_statistics.realMs());
    schedulePoll();
}

void RelaySet::schedulePoll()
{
    bool connecting = false;
    bool allRunning = true;
    for (const auto& relay : m_relays) {
        connecting = connecting || (!relay.second->isRunning() && !relay.second->isWaiting());
        allRunning = allRunning && relay.second->isRunning();
    }
    if (!connecting)
        m_connectingPolls = 0;
    else if (m_pollIntervalMs == kConnectingPollMs)
        ++m_connectingPolls;
    unsigned int intervalMs = kPollMs;
    if (m_relays.empty())
        intervalMs = 0;
    else if (connecting && m_connectingPolls < kConnectingPolls)
        intervalMs = kConnectingPollMs;
    else if (allRunning)
        intervalMs = kRunningPollMs;
    if (intervalMs == m_pollIntervalMs)
        return;
    m_loop.removeTimer(m_pollTimer);
    m_pollTimer = intervalMs > 0 ? m_loop.addTimer(intervalMs, [this] { poll(); }) : 0;
    m_pollIntervalMs = intervalMs;
}

QList<const ReconnectingRelay*> RelaySet::all() const
{
    QList<const ReconnectingRelay*> relays;
    for (const auto& relay : m_relays)
        relays.append(relay.second.get());
    return relays;
}

std::vector<std::shared_ptr<GstFedPipeline>> RelaySet::pipelines() const
{
    std::vector<std::shared_ptr<GstFedPipeline>> pipelines;
    for (const auto& relay : m_relays) {
        // Every connection opened here is a GstRelay.
        if (auto pipeline = std::dynamic_pointer_cast<GstFedPipeline>(relay.second->connection()))
            pipelines.push_back(pipeline);
    }
    return pipelines;
}

} // namespace rtc
} // namespace agora
