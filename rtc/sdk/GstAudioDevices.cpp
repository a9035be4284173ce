#include <gst/gst.h>

#include "rtc/sdk/GstAudioDevices.h"

namespace agora {
namespace rtc {

QString GstAudioDevices::idOf(GstDevice* device)
{
    // The PulseAudio provider exposes the source name as "internal-name".
    if (g_object_class_find_property(G_OBJECT_GET_CLASS(device), "internal-name")) {
        gchar* name = nullptr;
        g_object_get(device, "internal-name", &name, nullptr);
        const QString id = QString::fromUtf8(name ? name : "");
        g_free(name);
        if (!id.isEmpty())
            return id;
    }
    GstStructure* properties = gst_device_get_properties(device);
    QString id;
    if (properties) {
        const gchar* name = gst_structure_get_string(properties, "device.name");
        if (name)
            id = QString::fromUtf8(name);
        gst_structure_free(properties);
    }
    return id;
}

namespace {

bool isDefaultDevice(GstDevice* device)
{
    GstStructure* properties = gst_device_get_properties(device);
    if (!properties)
        return false;
    gboolean isDefault = FALSE;
    gst_structure_get_boolean(properties, "is-default", &isDefault);
    gst_structure_free(properties);
    return isDefault;
}

} // namespace

QString GstAudioDevices::defaultMark()
{
    return QStringLiteral(" (default)");
}

QList<GstAudioDevices::Device> GstAudioDevices::list(GstDeviceMonitor* running)
{
    QList<Device> devices;
    GstDeviceMonitor* monitor = running;
    if (!monitor) {
        monitor = gst_device_monitor_new();
        gst_device_monitor_add_filter(monitor, "Audio/Source", nullptr);
        if (!gst_device_monitor_start(monitor)) {
            gst_object_unref(monitor);
            return devices;
        }
    }
    GList* found = gst_device_monitor_get_devices(monitor);
    for (GList* item = found; item; item = item->next) {
        GstDevice* device = GST_DEVICE(item->data);
        Device entry;
        gchar* name = gst_device_get_display_name(device);
        entry.name = QString::fromUtf8(name ? name : "");
        g_free(name);
        entry.id = idOf(device);
        entry.isDefault = isDefaultDevice(device);
        if (entry.id.isEmpty())
            continue;
        if (entry.isDefault) {
            if (!entry.name.contains(QLatin1String("default"), Qt::CaseInsensitive))
                entry.name += defaultMark();
            devices.prepend(entry);
        } else {
            devices.append(entry);
        }
    }
    g_list_free_full(found, gst_object_unref);
    if (!running) {
        gst_device_monitor_stop(monitor);
        gst_object_unref(monitor);
    }
    return devices;
}

} // namespace rtc
} // namespace agora
