#include <gst/app/gstappsrc.h>
#include <gst/gst.h>

#include "rtc/sdk/GstFedPipeline.h"

namespace agora {
namespace rtc {

GstFedPipeline::GstFedPipeline(SdkEventLoop& loop) : m_pipeline(loop)
{
    m_pipeline.onError = [this](const QString& error) {
        {
            std::lock_guard<std::mutex> lock(m_pushMutex);
            m_running = false;
        }
        if (onError)
            onError(error);
    };
}

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
    if (!m_pipeline.build(description, error))
        return false;
    GstElement* src = m_pipeline.element("src");
    if (!src) {
        error = QStringLiteral("pipeline without a source");
        m_pipeline.close();
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

    m_src = src;
    if (!configure(m_pipeline.get(), error) ||
        !m_pipeline.play(QStringLiteral("the pipeline does not start"), error)) {
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
    GstElement* src = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_pushMutex);
        m_running = false;
        src = m_src;
        m_src = nullptr;
    }
    m_pipeline.stopWatching();
    if (eosWaitMs > 0 && !m_pipeline.hasFailed() && src && m_pipeline.get()) {
        gst_app_src_end_of_stream(GST_APP_SRC(src));
        GstBus* bus = gst_element_get_bus(m_pipeline.get());
        GstMessage* message =
            gst_bus_timed_pop_filtered(bus, static_cast<GstClockTime>(eosWaitMs) * GST_MSECOND,
                                       static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
        if (message)
            gst_message_unref(message);
        gst_object_unref(bus);
    }
    m_pipeline.close();
    if (src)
        gst_object_unref(src);
}

} // namespace rtc
} // namespace agora
