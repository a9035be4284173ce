#pragma once

#include "rtc/sdk/ReconnectingRelay.h"

#include <QList>
#include <QString>

#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace agora {
namespace rtc {

class CallStatistics;
class GstFedPipeline;
class SdkEventLoop;

// The channel's publish addresses, one ReconnectingRelay each: adds and removes them, opens
// their GstRelay connections, routes a connection's failure to its relay and looks at every
// relay on a timer while there is one. A removed relay's acknowledged counts go into the
// CallStatistics. SDK thread only.
class RelaySet
{
public:
    // How often the relays are looked at; more often while one connects, for at most
    // kConnectingPolls looks, so that "running" follows the server's answer closely, and once a
    // second while all run (a stall takes seconds to tell, the rate is shown per second; the
    // capture's check and the statistics tick with it).
    static constexpr unsigned int kPollMs = 200;
    static constexpr unsigned int kRunningPollMs = 1000;
    static constexpr unsigned int kConnectingPollMs = 20;
    static constexpr int kConnectingPolls = 50;

    RelaySet(SdkEventLoop& loop, CallStatistics& statistics, ReconnectingRelay::Hooks hooks);
    ~RelaySet();

    RelaySet(const RelaySet&) = delete;
    RelaySet& operator=(const RelaySet&) = delete;

    // Null when the address is not published.
    const ReconnectingRelay* find(const QString& url) const;
    // Starts the address's first connection; false (nothing kept) when it does not start.
    bool add(const QString& url, QString& error);
    void remove(const QString& url, bool report);
    void removeAll(bool report);

    QList<const ReconnectingRelay*> all() const;
    // The open connections, for the capture to feed.
    std::vector<std::shared_ptr<GstFedPipeline>> pipelines() const;

private:
    std::shared_ptr<IRelayConnection> open(const QString& url, QString& error);
    void poll();
    // Starts, changes or ends the poll timer as the relays' states ask.
    void schedulePoll();

    SdkEventLoop& m_loop;
    CallStatistics& m_statistics;
    // The hooks of every relay; open is ours.
    ReconnectingRelay::Hooks m_hooks;
    std::map<QString, std::unique_ptr<ReconnectingRelay>> m_relays;
    unsigned int m_pollTimer = 0;
    unsigned int m_pollIntervalMs = 0;
    int m_connectingPolls = 0;
};

} // namespace rtc
} // namespace agora
