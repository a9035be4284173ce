#include <gst/gst.h>

#include "rtc/sdk/GstPcmRecorder.h"

namespace agora {
namespace rtc {

GstPcmRecorder::GstPcmRecorder(SdkEventLoop& loop, const QString& path) : GstFedPipeline(loop), m_path(path)
{
}

bool GstPcmRecorder::start(QString& error)
{
    return GstFedPipeline::start(QStringLiteral("appsrc name=src ! wavenc ! filesink name=file"), error);
}

bool GstPcmRecorder::configure(GstElement* pipeline, QString& error)
{
    GstElement* file = gst_bin_get_by_name(GST_BIN(pipeline), "file");
    if (!file) {
        error = QStringLiteral("no file sink");
        return false;
    }
    // A property, not pipeline text: the path may hold any character.
    g_object_set(file, "location", m_path.toUtf8().constData(), nullptr);
    gst_object_unref(file);
    return true;
}

} // namespace rtc
} // namespace agora
