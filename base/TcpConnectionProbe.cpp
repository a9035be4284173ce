#include "base/TcpConnectionProbe.h"

#include <mutex>

#ifdef Q_OS_LINUX
#include <dirent.h>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <cstddef>
#include <cstdlib>
#endif

namespace {

// Sockets held by a probe, so two relays to one server never read the same connection.
std::mutex claimedMutex;
QSet<quint64>& claimed()
{
    static QSet<quint64> ids;
    return ids;
}

#ifdef Q_OS_LINUX

constexpr int tcpEstablished = 1; // the kernel's TCP_ESTABLISHED

// The socket's identity (its inode) when fd is a TCP socket.
bool tcpSocketId(int fd, quint64& id)
{
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISSOCK(st.st_mode))
        return false;
    int protocol = 0;
    socklen_t length = sizeof(protocol);
    if (getsockopt(fd, SOL_SOCKET, SO_PROTOCOL, &protocol, &length) != 0 || protocol != IPPROTO_TCP)
        return false;
    id = static_cast<quint64>(st.st_ino);
    return true;
}

quint16 peerPort(int fd)
{
    sockaddr_storage address{};
    socklen_t length = sizeof(address);
    if (getpeername(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return 0;
    if (address.ss_family == AF_INET)
        return ntohs(reinterpret_cast<const sockaddr_in*>(&address)->sin_port);
    if (address.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6*>(&address)->sin6_port);
    return 0;
}

template <typename Visit>
void forEachTcpSocket(Visit visit)
{
    DIR* dir = opendir("/proc/self/fd");
    if (!dir)
        return;
    const int ownFd = dirfd(dir);
    while (const dirent* entry = readdir(dir)) {
        char* end = nullptr;
        const long fd = std::strtol(entry->d_name, &end, 10);
        quint64 id = 0;
        if (end == entry->d_name || *end != '\0' || fd == ownFd || !tcpSocketId(static_cast<int>(fd), id))
            continue;
        visit(static_cast<int>(fd), id);
    }
    closedir(dir);
}

#endif

} // namespace

TcpConnectionProbe::SocketIds TcpConnectionProbe::openSockets()
{
    SocketIds ids;
#ifdef Q_OS_LINUX
    forEachTcpSocket([&ids](int, quint64 id) { ids.insert(id); });
#endif
    return ids;
}

std::unique_ptr<TcpConnectionProbe> TcpConnectionProbe::claim(quint16 port, const SocketIds& before)
{
#ifdef Q_OS_LINUX
    const std::lock_guard<std::mutex> lock(claimedMutex);
    int foundFd = -1;
    quint64 foundId = 0;
    int found = 0;
    forEachTcpSocket([&](int fd, quint64 id) {
        tcp_info info{};
        socklen_t length = sizeof(info);
        if (before.contains(id) || claimed().contains(id) || peerPort(fd) != port ||
            getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &length) != 0 || info.tcpi_state != tcpEstablished)
            return;
        foundFd = fd;
        foundId = id;
        ++found;
    });
    if (found != 1)
        return nullptr;
    claimed().insert(foundId);
    return std::unique_ptr<TcpConnectionProbe>(new TcpConnectionProbe(foundFd, foundId));
#else
    // Windows keeps these figures per connection row (GetPerTcpConnectionEStats), which needs
    // rights a user program lacks: the protocol's own acknowledgements stay the measure there.
    Q_UNUSED(port)
    Q_UNUSED(before)
    return nullptr;
#endif
}

TcpConnectionProbe::~TcpConnectionProbe()
{
    const std::lock_guard<std::mutex> lock(claimedMutex);
    claimed().remove(m_id);
}

bool TcpConnectionProbe::read(Counts& counts) const
{
#ifdef Q_OS_LINUX
    quint64 id = 0;
    if (!tcpSocketId(m_fd, id) || id != m_id)
        return false;
    tcp_info info{};
    socklen_t length = sizeof(info);
    // Kernels before 4.19 fill less of the structure than these fields need.
    if (getsockopt(m_fd, IPPROTO_TCP, TCP_INFO, &info, &length) != 0 ||
        length < offsetof(tcp_info, tcpi_bytes_sent) + sizeof(info.tcpi_bytes_sent))
        return false;
    const quint64 settled = info.tcpi_bytes_acked + info.tcpi_bytes_retrans;
    quint64 inFlight = info.tcpi_bytes_sent > settled ? info.tcpi_bytes_sent - settled : 0;
    if (info.tcpi_unacked > 0 && inFlight == 0)
        inFlight = 1;
    counts.ackedBytes = info.tcpi_bytes_acked;
    counts.waitingBytes = inFlight + info.tcpi_notsent_bytes;
    // The peer's window is told from Linux 6.2 on.
    if (length >= offsetof(tcp_info, tcpi_snd_wnd) + sizeof(info.tcpi_snd_wnd))
        counts.windowBytes = info.tcpi_snd_wnd;
    return true;
#else
    Q_UNUSED(counts)
    return false;
#endif
}
