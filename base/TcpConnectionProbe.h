#pragma once

#include <QSet>
#include <QtGlobal>

#include <memory>

// What the operating system knows of one TCP connection of this process that a library opened
// and keeps to itself (the RTMP sink does): how many bytes the peer has acknowledged, and how
// many still wait for it. A server's own acknowledgements may come only every few megabytes;
// its TCP acknowledges within milliseconds. Linux reads TCP_INFO of the socket, found among the
// process's descriptors by its peer port; elsewhere no connection is found, and the caller goes
// on with what the protocol above tells it.
class TcpConnectionProbe
{
public:
    struct Counts
    {
        quint64 ackedBytes = 0;   // acknowledged by the peer
        quint64 waitingBytes = 0; // sent and not yet acknowledged, or not yet sent
        // The peer's receive window: it shrinks while the peer's program does not read. -1
        // where the system does not tell it.
        qint64 windowBytes = -1;
    };
    using SocketIds = QSet<quint64>;

    // The TCP sockets this process has open now.
    static SocketIds openSockets();
    // The one established TCP connection to peerPort that is not among before and that no other
    // probe holds; null when there is none, or more than one to tell apart.
    static std::unique_ptr<TcpConnectionProbe> claim(quint16 peerPort, const SocketIds& before);

    ~TcpConnectionProbe();
    TcpConnectionProbe(const TcpConnectionProbe&) = delete;
    TcpConnectionProbe& operator=(const TcpConnectionProbe&) = delete;

    // False once the connection is gone (its descriptor closed or reused).
    bool read(Counts& counts) const;

private:
    TcpConnectionProbe(int fd, quint64 id) : m_fd(fd), m_id(id) {}

    // The descriptor is the library's: read through, never closed here.
    const int m_fd;
    const quint64 m_id;
};
