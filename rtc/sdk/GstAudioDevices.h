#pragma once

#include <QList>
#include <QString>

typedef struct _GstDevice GstDevice;
typedef struct _GstDeviceMonitor GstDeviceMonitor;

namespace agora {
namespace rtc {

// Capture devices as GStreamer's device monitor sees them ("Audio/Source"). The id is the
// PulseAudio source name, which stays the same across runs.
class GstAudioDevices
{
public:
    struct Device
    {
        QString name;
        QString id;
        bool isDefault = false;
    };

    // The default device first, its name marked " (default)" unless it already says so; the
    // others in the monitor's order. Empty when there is no device or no sound server.
    // With a running monitor ("Audio/Source") its view is taken; otherwise a short-lived one
    // asks (a second monitor started and stopped beside a running one silences the running
    // one's removal messages).
    static QList<Device> list(GstDeviceMonitor* running = nullptr);

    // The stable id of a capture device (its PulseAudio source name); empty when it has none.
    static QString idOf(GstDevice* device);

    // Suffix added to the default device's name.
    static QString defaultMark();
};

} // namespace rtc
} // namespace agora
