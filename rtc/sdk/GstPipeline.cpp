#include <gst/gst.h>

#include "rtc/sdk/GstPipeline.h"

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

namespace {
std::atomic<int> g_openPipelines{0};
} // namespace

int GstPipeline::openCount()
{
    return g_openPipelines.load();
}

GstPipeline::GstPipeline(SdkEventLoop& loop) : m_loop(loop) {}

GstPipeline::~GstPipeline()
{
    close();
}

bool GstPipeline::build(const QString& description, QString& error)
{
    close();
    m_failed = false;
    GError* parseError = nullptr;
    GstElement* pipeline = gst_parse_launch(description.toUtf8().constData(), &parseError);
    if (!pipeline || parseError) {
        error = QString::fromUtf8(parseError ? parseError->message : "cannot build the pipeline");
        g_clear_error(&parseError);
        if (pipeline)
            gst_object_unref(pipeline);
        return false;
    }
    m_pipeline = pipeline;
    ++g_openPipelines;
    return true;
}

GstElement* GstPipeline::element(const char* name) const
{
    return m_pipeline ? gst_bin_get_by_name(GST_BIN(m_pipeline), name) : nullptr;
}

bool GstPipeline::play(const QString& fallback, QString& error)
{
    GstBus* bus = gst_element_get_bus(m_pipeline);
    m_watch = m_loop.addBusWatch(bus, [this](GstMessage* message) { handleMessage(message); });
    gst_object_unref(bus);
    if (gst_element_set_state(m_pipeline, GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE)
        return true;
    error = pendingErrorText(m_pipeline, fallback);
    return false;
}

void GstPipeline::stopWatching()
{
    SdkEventLoop::removeWatch(m_watch);
    m_watch = nullptr;
}

void GstPipeline::close()
{
    stopWatching();
    if (!m_pipeline)
        return;
    gst_element_set_state(m_pipeline, GST_STATE_NULL);
    gst_object_unref(m_pipeline);
    m_pipeline = nullptr;
    --g_openPipelines;
}

void GstPipeline::handleMessage(GstMessage* message)
{
    if (GST_MESSAGE_TYPE(message) != GST_MESSAGE_ERROR || m_failed.load())
        return;
    m_failed = true;
    if (onError)
        onError(gstErrorText(message));
    if (m_pipeline)
        gst_element_set_state(m_pipeline, GST_STATE_NULL);
}

} // namespace rtc
} // namespace agora
