#include <gio/gio.h>
#include <gst/gst.h>
#include <netinet/in.h>
#include <netinet/tcp.h>

#include "rtc/sdk/GstRelay.h"

#include <QUrl>

#ifdef Q_OS_LINUX
#include <sched.h>
#endif

#include <mutex>

namespace agora {
namespace rtc {

namespace {

GstPadProbeReturn countBytes(GstPad*, GstPadProbeInfo* info, gpointer counter)
{
    auto* bytes = static_cast<std::atomic<uint64_t>*>(counter);
    if (GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_BUFFER) {
        *bytes += gst_buffer_get_size(GST_PAD_PROBE_INFO_BUFFER(info));
    } else if (GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_BUFFER_LIST) {
        GstBufferList* list = GST_PAD_PROBE_INFO_BUFFER_LIST(info);
        for (guint i = 0; i < gst_buffer_list_length(list); ++i)
            *bytes += gst_buffer_get_size(gst_buffer_list_get(list, i));
    }
    return GST_PAD_PROBE_OK;
}

bool addCounter(GstElement* pipeline, const char* element, const char* pad, std::atomic<uint64_t>* counter)
{
    GstElement* found = gst_bin_get_by_name(GST_BIN(pipeline), element);
    if (!found)
        return false;
    GstPad* target = gst_element_get_static_pad(found, pad);
    gst_object_unref(found);
    if (!target)
        return false;
    gst_pad_add_probe(
        target, static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_BUFFER_LIST),
        countBytes, counter, nullptr);
    gst_object_unref(target);
    return true;
}

// rtmp2sink writes the commands of the RTMP connect in small pieces, and with Nagle's algorithm
// each piece after the first waits for the server's delayed acknowledgement: twice about 40 ms
// before the publish. The sink has no setting for it, but its connection comes from GIO's socket
// client, which announces every connection it made; TCP connections get TCP_NODELAY right there.
gboolean noDelayWhenConnected(GSignalInvocationHint*, guint count, const GValue* values, gpointer)
{
    if (count < 4 || g_value_get_enum(&values[1]) != G_SOCKET_CLIENT_CONNECTED)
        return TRUE;
    auto* stream = static_cast<GObject*>(g_value_get_object(&values[3]));
    if (stream && G_IS_SOCKET_CONNECTION(stream)) {
        GSocket* socket = g_socket_connection_get_socket(G_SOCKET_CONNECTION(stream));
        if (g_socket_get_family(socket) != G_SOCKET_FAMILY_UNIX)
            g_socket_set_option(socket, IPPROTO_TCP, TCP_NODELAY, 1, nullptr);
    }
    return TRUE; // stays for every later connection
}

void sendWithoutDelay()
{
    static std::once_flag once;
    std::call_once(once, [] {
        // The class must exist before its signal can be looked up; it is never released.
        g_type_class_ref(G_TYPE_SOCKET_CLIENT);
        const guint event = g_signal_lookup("event", G_TYPE_SOCKET_CLIENT);
        if (event != 0)
            g_signal_add_emission_hook(event, 0, noDelayWhenConnected, nullptr, nullptr);
    });
}

// The relay's threads hand each AAC frame on to the next one (encoder, muxer, connection). Woken
// as ordinary threads, each preempts the thread that woke it, once per frame; as batch threads
// they let it finish its turn (the frames of a whole read) first. That cut the relay's context
// switches from about 220 to about 75 a second, and the muxer's CPU by about 40 %.
GstBusSyncReply batchThreads(GstBus*, GstMessage* message, gpointer)
{
    if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_STREAM_STATUS) {
        GstStreamStatusType type = GST_STREAM_STATUS_TYPE_CREATE;
        GstElement* owner = nullptr;
        gst_message_parse_stream_status(message, &type, &owner);
#ifdef Q_OS_LINUX
        // Both are posted from the thread itself; it goes back to a shared pool when it leaves.
        const sched_param param = {};
        if (type == GST_STREAM_STATUS_TYPE_ENTER)
            sched_setscheduler(0, SCHED_BATCH, &param);
        else if (type == GST_STREAM_STATUS_TYPE_LEAVE)
            sched_setscheduler(0, SCHED_OTHER, &param);
#endif
    }
    return GST_BUS_PASS;
}

} // namespace

GstRelay::GstRelay(SdkEventLoop& loop, const QString& url) : GstFedPipeline(loop), m_url(url) {}

GstRelay::~GstRelay()
{
    m_socket.reset();
    stop(0);
    if (m_sink)
        gst_object_unref(m_sink);
}

QString GstRelay::encoderName()
{
    for (const char* name : {"voaacenc", "avenc_aac"}) {
        GstElementFactory* factory = gst_element_factory_find(name);
        if (factory) {
            gst_object_unref(factory);
            return QString::fromLatin1(name);
        }
    }
    return QString();
}

bool GstRelay::isValidUrl(const QString& url)
{
    if (url.toUtf8().size() > kMaxUrlBytes)
        return false;
    const QUrl parsed(url, QUrl::StrictMode);
    if (!parsed.isValid() || parsed.scheme() != QLatin1String("rtmp") || parsed.host().isEmpty())
        return false;
    // application and stream name
    const QStringList parts = parsed.path().split(QLatin1Char('/'), Qt::SkipEmptyParts);
    if (parts.size() < 2)
        return false;
    for (const QChar c : url) {
        if (c.unicode() < 0x21 || c.unicode() == 0x7f)
            return false;
    }
    return true;
}

bool GstRelay::start(QString& error)
{
    const QString encoder = encoderName();
    if (encoder.isEmpty()) {
        error = QStringLiteral("no AAC encoder available");
        return false;
    }
    // Bigger encoder frames are not possible for AAC (1024 samples); what keeps the cost down is
    // the capture's 100 ms reads, no conversion stage (the encoder takes S16LE directly) and a
    // muxer that queues a read's frames (its latency) instead of taking them one at a time.
    const QString description =
        QStringLiteral("appsrc name=src ! %1 name=enc ! aacparse name=parse ! "
                       "flvmux name=mux streamable=true latency=300000000 ! rtmp2sink name=sink sync=false")
            .arg(encoder);
    m_socketsBefore = TcpConnectionProbe::openSockets();
    sendWithoutDelay();
    return GstFedPipeline::start(description, error);
}

bool GstRelay::configure(GstElement* pipeline, QString& error)
{
    GstElement* encoder = gst_bin_get_by_name(GST_BIN(pipeline), "enc");
    if (encoder) {
        g_object_set(encoder, "bitrate", kBitrate, nullptr);
        gst_object_unref(encoder);
    }
    GstBus* bus = gst_element_get_bus(pipeline);
    gst_bus_set_sync_handler(bus, batchThreads, nullptr, nullptr);
    gst_object_unref(bus);
    m_sink = gst_bin_get_by_name(GST_BIN(pipeline), "sink");
    if (!m_sink) {
        error = QStringLiteral("no RTMP sink");
        return false;
    }
    // Set as a property, never through the pipeline text: the address comes from outside.
    g_object_set(m_sink, "location", m_url.toUtf8().constData(), nullptr);
    if (!addCounter(pipeline, "parse", "src", &m_aacBytes) ||
        !addCounter(pipeline, "sink", "sink", &m_flvBytes)) {
        error = QStringLiteral("cannot count the relay's bytes");
        return false;
    }
    return true;
}

GstRelay::ServerCounts GstRelay::serverCounts() const
{
    ServerCounts counts;
    if (!m_sink)
        return counts;
    GstStructure* stats = nullptr;
    g_object_get(m_sink, "stats", &stats, nullptr);
    if (!stats)
        return counts;
    guint64 value = 0;
    if (gst_structure_get_uint64(stats, "out-bytes-total", &value))
        counts.sentBytes = value;
    if (gst_structure_get_uint64(stats, "out-bytes-acked", &value))
        counts.ackedBytes = value;
    if (gst_structure_get_uint64(stats, "in-bytes-total", &value))
        counts.receivedBytes = value;
    guint window = 0;
    if (gst_structure_get_uint(stats, "out-window-ack-size", &window))
        counts.ackWindowBytes = window;
    gst_structure_free(stats);

    // Looked for a few times after the server answered; a connection that cannot be told
    // apart goes on with the server's acknowledgements alone.
    constexpr int maxSocketLooks = 10;
    if (!m_socket && counts.receivedBytes > 0 && m_socketLooks < maxSocketLooks) {
        ++m_socketLooks;
        m_socket =
            TcpConnectionProbe::claim(static_cast<quint16>(QUrl(m_url).port(kDefaultPort)), m_socketsBefore);
    }
    TcpConnectionProbe::Counts tcp;
    if (m_socket && m_socket->read(tcp)) {
        counts.tcpKnown = true;
        counts.tcpAckedBytes = tcp.ackedBytes;
        counts.tcpWaitingBytes = tcp.waitingBytes;
        counts.tcpWindowBytes = tcp.windowBytes;
    }
    return counts;
}

bool GstRelay::isConnected() const
{
    if (!m_sink || !isRunning() || m_flvBytes.load() == 0)
        return false;
    return serverCounts().receivedBytes > 0;
}

} // namespace rtc
} // namespace agora
