#pragma once

namespace agora {
namespace rtc {

class IAudioDeviceCollection;

// Obtained from IRtcEngine::queryInterface(kInterfaceAudioDeviceManager).
class IAudioDeviceManager
{
public:
    // A new collection (release it), or null when the devices cannot be listed.
    virtual IAudioDeviceCollection* enumerateRecordingDevices() = 0;
    // Selects the capture device by its id; an unknown id gives a negative code. While in a
    // channel the capture switches to it without leaving.
    virtual int setRecordingDevice(const char* deviceId) = 0;
    virtual void release() = 0;

protected:
    virtual ~IAudioDeviceManager() = default;
};

} // namespace rtc
} // namespace agora
