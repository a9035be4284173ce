#pragma once

#include <QList>
#include <QString>

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
    static QList<Device> list();

    // Suffix added to the default device's name.
    static QString defaultMark();
};

} // namespace rtc
} // namespace agora
