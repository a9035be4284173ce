#include <gst/app/gstappsrc.h>
#include <gst/gst.h>

#include "rtc/sdk/GstFedPipeline.h"

#include "rtc/sdk/SdkEventLoop.h"

namespace agora {
namespace rtc {

QString gstErrorText(GstMessage* message)
{
    if (!message || GST_MESSAGE_TYPE(message) != GST_MESSAGE_ERROR)
        return QString();
    GError* error = nullptr;
    gchar* debug = nullptr;
    gst_message_parse_error(message, &error, &debug);
    QString text = QString::fromUtf8(error ? error->message : "unknown error");
    if (debug && *debug)
        text += QStringLiteral(" (") + QString::fromUtf8(debug) + QLatin1Char(')');
    g_clear_error(&error);
    g_free(debug);
    return text;
}

QString pendingErrorText(GstElement* element, const QString& fallback)
{
    GstBus* bus = gst_element_get_bus(element);
    GstMessage* message = bus ? gst_bus_pop_filtered(bus, GST_MESSAGE_ERROR) : nullptr;
    const QString text = message ? gstErrorText(message) : fallback;
    if (message)
        gst_message_unref(message);
    if (bus)
        gst_object_unref(bus);
    return text;
}

GstFedPipeline::GstFedPipeline(SdkEventLoop& loop) : m_loop(loop) {}

GstFedPipeline::~GstFedPipeline()
{
    stop(0);
}

bool GstFedPipeline::configure(GstElement*, QString&)
{
    return true;
}

bool GstFedPipeline::start(const QString& description, QString& error)
{
    GError* parseError = nullptr;
    GstElement* pipeline = gst_parse_launch(description.toUtf8().constData(), &parseError);
    if (!pipeline || parseError) {
        error = QString::fromUtf8(parseError ? parseError->message : "cannot build the pipeline");
        g_clear_error(&parseError);
        if (pipeline)
            gst_object_unref(pipeline);
        return false;
    }
    GstElement* src = gst_bin_get_by_name(GST_BIN(pipeline), "src");
    if (!src) {
        error = QStringLiteral("pipeline without a source");
        gst_object_unref(pipeline);
        return false;
    }
    GstCaps* caps =
        gst_caps_new_simple("audio/x-raw", "format", G_TYPE_STRING, "S16LE", "layout", G_TYPE_STRING,
                            "interleaved", "rate", G_TYPE_INT, kSampleRate, "channels", G_TYPE_INT, kChannels,
                            "channel-mask", GST_TYPE_BITMASK, static_cast<guint64>(0x3), nullptr);
    // About two seconds of audio at most; on overflow the oldest data goes.
    g_object_set(src, "caps", caps, "format", GST_FORMAT_TIME, "is-live", TRUE, "do-timestamp", FALSE,
                 "max-bytes", static_cast<guint64>(2 * kSampleRate * kBytesPerFrame), "leaky-type",
                 2 /* downstream */, nullptr);
    gst_caps_unref(caps);

    m_pipeline = pipeline;
    m_src = src;
    if (!configure(pipeline, error)) {
        stop(0);
        return false;
    }
    GstBus* bus = gst_element_get_bus(pipeline);
    m_watch = m_loop.addBusWatch(bus, [this](GstMessage* message) { handleMessage(message); });
    gst_object_unref(bus);

    if (gst_element_set_state(pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        error = pendingErrorText(pipeline, QStringLiteral("the pipeline does not start"));
        stop(0);
        return false;
    }
    m_running = true;
    return true;
}

void GstFedPipeline::push(GstBuffer* buffer)
{
    std::lock_guard<std::mutex> lock(m_pushMutex);
    if (!m_running.load() || !m_src)
        return;
    const gsize bytes = gst_buffer_get_size(buffer);
    const uint64_t frames = bytes / kBytesPerFrame;
    GstBuffer* copy = gst_buffer_copy(buffer); // shares the memory, own timestamps
    const uint64_t start = m_frames.fetch_add(frames);
    GST_BUFFER_PTS(copy) = gst_util_uint64_scale(start, GST_SECOND, kSampleRate);
    GST_BUFFER_DTS(copy) = GST_CLOCK_TIME_NONE;
    GST_BUFFER_DURATION(copy) = gst_util_uint64_scale(frames, GST_SECOND, kSampleRate);
    if (start == 0)
        GST_BUFFER_FLAG_SET(copy, GST_BUFFER_FLAG_DISCONT);
    gst_app_src_push_buffer(GST_APP_SRC(m_src), copy);
}

void GstFedPipeline::stop(int eosWaitMs)
{
    {
        std::lock_guard<std::mutex> lock(m_pushMutex);
        m_running = false;
    }
    SdkEventLoop::removeWatch(m_watch);
    m_watch = nullptr;
    if (!m_pipeline)
        return;
    if (eosWaitMs > 0 && !m_failed.load() && m_src) {
        gst_app_src_end_of_stream(GST_APP_SRC(m_src));
        GstBus* bus = gst_element_get_bus(m_pipeline);
        GstMessage* message =
            gst_bus_timed_pop_filtered(bus, static_cast<GstClockTime>(eosWaitMs) * GST_MSECOND,
                                       static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
        if (message)
            gst_message_unref(message);
        gst_object_unref(bus);
    }
    gst_element_set_state(m_pipeline, GST_STATE_NULL);
    if (m_src)
        gst_object_unref(m_src);
    gst_object_unref(m_pipeline);
    std::lock_guard<std::mutex> lock(m_pushMutex);
    m_src = nullptr;
    m_pipeline = nullptr;
}

void GstFedPipeline::handleMessage(GstMessage* message)
{
    if (GST_MESSAGE_TYPE(message) != GST_MESSAGE_ERROR || m_failed.load())
        return;
    m_failed = true;
    {
        std::lock_guard<std::mutex> lock(m_pushMutex);
        m_running = false;
    }
    const QString text = gstErrorText(message);
    // Stop the failed pipeline right away: its threads must not keep retrying.
    if (m_pipeline)
        gst_element_set_state(m_pipeline, GST_STATE_NULL);
    if (onError)
        onError(text);
}

} // namespace rtc
} // namespace agora
