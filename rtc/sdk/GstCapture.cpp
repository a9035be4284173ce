#include <gst/app/gstappsink.h>
#include <gst/gst.h>

#include "rtc/sdk/GstCapture.h"

#include "rtc/sdk/GstFedPipeline.h"

#include <QElapsedTimer>

namespace agora {
namespace rtc {

namespace {
// 100 ms reads keep the wake-ups of the capture few (the level still comes twenty times a
// second: LevelTimeline); 400 ms of device buffer rides out scheduling hiccups.
constexpr gint64 kLatencyTimeUs = 100000;
constexpr gint64 kBufferTimeUs = 400000;
} // namespace

GstCapture::GstCapture(SdkEventLoop& loop)
    : m_pipeline(loop), m_levels(GstFedPipeline::kSampleRate, GstFedPipeline::kChannels)
{
    m_pipeline.onError = [this](const QString& error) {
        m_running = false;
        if (onError)
            onError(error);
    };
}

GstCapture::~GstCapture()
{
    stop();
}

bool GstCapture::start(const QString& deviceId, double volume, bool muted, int waitPlayingMs, QString& error)
{
    stop();
    m_deviceId = deviceId;
    m_levels.reset();
    if (!m_pipeline.build(
            QStringLiteral(
                "pulsesrc name=src client-name=Tavio ! audioconvert ! audioresample ! "
                "audio/x-raw,format=S16LE,layout=interleaved,rate=48000,channels=2,channel-mask=(bitmask)0x3 "
                "! "
                "volume name=vol ! "
                "appsink name=sink sync=false max-buffers=16 drop=true"),
            error))
        return false;
    GstElement* src = m_pipeline.element("src");
    g_object_set(src, "latency-time", kLatencyTimeUs, "buffer-time", kBufferTimeUs, nullptr);
    if (!deviceId.isEmpty())
        g_object_set(src, "device", deviceId.toUtf8().constData(), nullptr);
    m_source = src;

    m_volume = m_pipeline.element("vol");
    g_object_set(m_volume, "volume", volume, "mute", muted ? TRUE : FALSE, nullptr);

    GstElement* sink = m_pipeline.element("sink");
    GstAppSinkCallbacks callbacks = {};
    callbacks.new_sample = [](GstAppSink* appsink, gpointer self) -> GstFlowReturn {
        return static_cast<GstFlowReturn>(onNewSample(GST_ELEMENT(appsink), self));
    };
    gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, this, nullptr);
    gst_object_unref(sink);

    m_running = true;
    if (!m_pipeline.play(QStringLiteral("the capture does not start"), error)) {
        stop();
        return false;
    }
    GstElement* pipeline = m_pipeline.get();
    // A source that cannot open its device fails soon after it starts to play. Wait for that
    // (briefly: until it plays, fails, or waitPlayingMs pass) so that the caller gets the
    // failure as a result, not as a later callback, without holding it up for a slow first buffer.
    GstBus* startBus = gst_element_get_bus(pipeline);
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < waitPlayingMs) {
        GstMessage* message = gst_bus_timed_pop_filtered(startBus, 20 * GST_MSECOND, GST_MESSAGE_ERROR);
        if (message) {
            error = gstErrorText(message);
            gst_message_unref(message);
            gst_object_unref(startBus);
            stop();
            return false;
        }
        GstState state = GST_STATE_NULL;
        if (gst_element_get_state(pipeline, &state, nullptr, 0) == GST_STATE_CHANGE_SUCCESS &&
            state == GST_STATE_PLAYING)
            break;
    }
    gst_object_unref(startBus);
    return true;
}

void GstCapture::stop()
{
    m_running = false;
    m_pipeline.close();
    if (m_volume) {
        gst_object_unref(m_volume);
        m_volume = nullptr;
    }
    if (m_source) {
        gst_object_unref(m_source);
        m_source = nullptr;
    }
}

QString GstCapture::currentDevice() const
{
    if (!m_source || !m_running.load())
        return QString();
    gchar* current = nullptr;
    g_object_get(m_source, "current-device", &current, nullptr);
    const QString device = QString::fromUtf8(current ? current : "");
    g_free(current);
    return device;
}

void GstCapture::setVolume(double volume)
{
    if (m_volume)
        g_object_set(m_volume, "volume", volume, nullptr);
}

void GstCapture::setMuted(bool muted)
{
    if (m_volume)
        g_object_set(m_volume, "mute", muted ? TRUE : FALSE, nullptr);
}

int GstCapture::takePeak()
{
    return m_levels.take(g_get_monotonic_time());
}

int GstCapture::onNewSample(GstElement* sink, void* data)
{
    auto* self = static_cast<GstCapture*>(data);
    GstSample* sample = gst_app_sink_pull_sample(GST_APP_SINK(sink));
    if (!sample)
        return GST_FLOW_EOS;
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    if (buffer) {
        self->m_frames += gst_buffer_get_size(buffer) / GstFedPipeline::kBytesPerFrame;
        GstMapInfo map;
        if (gst_buffer_map(buffer, &map, GST_MAP_READ)) {
            self->m_levels.add(reinterpret_cast<const std::int16_t*>(map.data),
                               map.size / sizeof(std::int16_t), g_get_monotonic_time(), kLatencyTimeUs);
            gst_buffer_unmap(buffer, &map);
        }
        if (self->onBuffer)
            self->onBuffer(buffer);
    }
    gst_sample_unref(sample);
    return GST_FLOW_OK;
}

} // namespace rtc
} // namespace agora
