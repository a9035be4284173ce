#pragma once

#include "rtc/sdk/GstFedPipeline.h"
#include "rtc/sdk/IRelayConnection.h"

#include "base/TcpConnectionProbe.h"

#include <memory>

namespace agora {
namespace rtc {

// One connection to a publish address: PCM in, AAC-LC 48 kHz stereo in FLV out to an RTMP
// server. ReconnectingRelay decides when one is opened and closed.
class GstRelay : public GstFedPipeline, public IRelayConnection
{
public:
    static constexpr int kBitrate = 128000;
    static constexpr int kDefaultPort = 1935;

    GstRelay(SdkEventLoop& loop, const QString& url);
    ~GstRelay() override;

    // The AAC encoder element in use ("voaacenc", else "avenc_aac"); empty when neither exists.
    static QString encoderName();
    // Longer publish addresses are refused (no RTMP server takes them).
    static constexpr int kMaxUrlBytes = 1024;
    // True for rtmp://host[:port]/application/stream with nothing unsafe in it, at most
    // kMaxUrlBytes long.
    static bool isValidUrl(const QString& url);

    bool start(QString& error);
    QString url() const { return m_url; }
    // rtmp2sink's statistics, and its socket's once the server has answered.
    ServerCounts serverCounts() const override;
    bool isConnected() const override;
    uint64_t flvBytes() const override { return m_flvBytes.load(); }
    uint64_t aacBytes() const override { return m_aacBytes.load(); }
    void close(int eosWaitMs) override
    {
        m_socket.reset();
        stop(eosWaitMs);
    }

protected:
    bool configure(GstElement* pipeline, QString& error) override;

private:
    QString m_url;
    GstElement* m_sink = nullptr;
    std::atomic<uint64_t> m_flvBytes{0};
    std::atomic<uint64_t> m_aacBytes{0};
    // The sink's own socket, told from the others by being new since the start.
    TcpConnectionProbe::SocketIds m_socketsBefore;
    mutable std::unique_ptr<TcpConnectionProbe> m_socket;
    mutable int m_socketLooks = 0;
};

} // namespace rtc
} // namespace agora
