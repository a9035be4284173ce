#pragma once

#include <cstdint>

namespace agora {
namespace rtc {

// One connection of a relay to its RTMP server, as the relay's bookkeeping sees it: what went
// out and what the server acknowledged. GstRelay is the real one; it is read on the SDK thread.
class IRelayConnection
{
public:
    // What the RTMP connection reports.
    struct ServerCounts
    {
        uint64_t sentBytes = 0;      // written to the connection
        uint64_t ackedBytes = 0;     // acknowledged by the server
        uint64_t receivedBytes = 0;  // from the server
        uint32_t ackWindowBytes = 0; // the server acknowledges at least every this many bytes
        // What the connection's TCP reports, where the system tells it.
        bool tcpKnown = false;
        uint64_t tcpAckedBytes = 0;   // acknowledged by the server's TCP
        uint64_t tcpWaitingBytes = 0; // not yet acknowledged, or not yet sent
        int64_t tcpWindowBytes = -1; // the server's receive window; -1: unknown
    };

    virtual ~IRelayConnection() = default;

    virtual ServerCounts serverCounts() const = 0;
    // True once the server has answered and data has gone out.
    virtual bool isConnected() const = 0;
    // FLV bytes handed to the connection, and the AAC payload inside them.
    virtual uint64_t flvBytes() const = 0;
    virtual uint64_t aacBytes() const = 0;
    // Ends the connection, letting the stream drain for up to eosWaitMs.
    virtual void close(int eosWaitMs) = 0;
};

} // namespace rtc
} // namespace agora
