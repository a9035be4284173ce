#include <gst/gst.h>

#include "rtc/sdk/GstDeviceWatch.h"

#include "rtc/sdk/GstAudioDevices.h"
#include "rtc/sdk/SdkEventLoop.h"

namespace agora {
namespace rtc {

GstDeviceWatch::GstDeviceWatch(SdkEventLoop& loop) : m_loop(loop) {}

GstDeviceWatch::~GstDeviceWatch()
{
    stop();
}

bool GstDeviceWatch::start()
{
    stop();
    GstDeviceMonitor* monitor = gst_device_monitor_new();
    gst_device_monitor_add_filter(monitor, "Audio/Source", nullptr);
    GstBus* bus = gst_device_monitor_get_bus(monitor);
    m_watch = m_loop.addBusWatch(bus, [this](GstMessage* message) { handleMessage(message); });
    gst_object_unref(bus);
    if (!gst_device_monitor_start(monitor)) {
        SdkEventLoop::removeWatch(m_watch);
        m_watch = nullptr;
        gst_object_unref(monitor);
        return false;
    }
    m_monitor = monitor;
    return true;
}

void GstDeviceWatch::stop()
{
    SdkEventLoop::removeWatch(m_watch);
    m_watch = nullptr;
    if (!m_monitor)
        return;
    gst_device_monitor_stop(m_monitor);
    gst_object_unref(m_monitor);
    m_monitor = nullptr;
}

void GstDeviceWatch::handleMessage(GstMessage* message)
{
    const bool added = GST_MESSAGE_TYPE(message) == GST_MESSAGE_DEVICE_ADDED;
    if (!added && GST_MESSAGE_TYPE(message) != GST_MESSAGE_DEVICE_REMOVED)
        return;
    GstDevice* device = nullptr;
    if (added)
        gst_message_parse_device_added(message, &device);
    else
        gst_message_parse_device_removed(message, &device);
    if (!device)
        return;
    const QString id = GstAudioDevices::idOf(device);
    gst_object_unref(device);
    if (!id.isEmpty() && onChange)
        onChange(id, added);
}

} // namespace rtc
} // namespace agora
