#pragma once

#include "rtc/sdk/GstFedPipeline.h"

namespace agora {
namespace rtc {

// One publish address: PCM in, AAC-LC 48 kHz stereo in FLV out to an RTMP server.
class GstRelay : public GstFedPipeline
{
public:
    static constexpr int kBitrate = 128000;

    GstRelay(SdkEventLoop& loop, const QString& url);
    ~GstRelay() override;

    // The AAC encoder element in use ("voaacenc", else "avenc_aac"); empty when neither exists.
    static QString encoderName();
    // True for rtmp://host[:port]/application/stream with nothing unsafe in it.
    static bool isValidUrl(const QString& url);

    bool start(QString& error);
    QString url() const { return m_url; }
    // What the RTMP connection reports (rtmp2sink's statistics).
    struct ServerCounts
    {
        uint64_t sentBytes = 0;      // written to the connection
        uint64_t ackedBytes = 0;     // acknowledged by the server
        uint64_t receivedBytes = 0;  // from the server
        uint32_t ackWindowBytes = 0; // the server acknowledges at least every this many bytes
    };
    ServerCounts serverCounts() const;
    // True once the server has answered and data has gone out.
    bool isConnected() const;
    uint64_t flvBytes() const { return m_flvBytes.load(); }
    uint64_t aacBytes() const { return m_aacBytes.load(); }

protected:
    bool configure(GstElement* pipeline, QString& error) override;

private:
    QString m_url;
    GstElement* m_sink = nullptr;
    std::atomic<uint64_t> m_flvBytes{0};
    std::atomic<uint64_t> m_aacBytes{0};
};

} // namespace rtc
} // namespace agora
