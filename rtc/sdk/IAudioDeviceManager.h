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
    // Captures the chosen device without sending or recording anything and reports its level
    // (after volume and mute) through onAudioVolumeIndication, uid 0, every
    // indicationIntervalMs (10..1000). A channel joined meanwhile takes the test's capture over
    // instead of opening the device again. Without a device the test stays on (a negative
    // result says so) and starts capturing when one is chosen.
    virtual int startRecordingDeviceTest(int indicationIntervalMs) = 0;
    // Ends the test; the capture stops unless a channel still uses it.
    virtual int stopRecordingDeviceTest() = 0;
    virtual void release() = 0;

protected:
    virtual ~IAudioDeviceManager() = default;
};

} // namespace rtc
} // namespace agora
