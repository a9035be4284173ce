#pragma once

namespace agora {
namespace rtc {

// A snapshot of the recording devices, from IAudioDeviceManager::enumerateRecordingDevices.
class IAudioDeviceCollection
{
public:
    virtual int getCount() = 0;
    // Fills both buffers (kMaxDeviceIdLength bytes each, zero-terminated UTF-8); 0 on success,
    // negative for an index out of range.
    virtual int getDevice(int index, char* deviceName, char* deviceId) = 0;
    virtual void release() = 0;

protected:
    virtual ~IAudioDeviceCollection() = default;
};

} // namespace rtc
} // namespace agora
