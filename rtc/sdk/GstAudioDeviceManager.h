#pragma once

#include "rtc/sdk/DeviceListCollection.h"
#include "rtc/sdk/GstRtcEngine.h"
#include "rtc/sdk/IAudioDeviceManager.h"

namespace agora {
namespace rtc {

// The device manager GstRtcEngine hands out: owns nothing; each call, from any thread, goes to
// the engine (the device list as a collection the caller releases).
class GstAudioDeviceManager : public IAudioDeviceManager
{
public:
    explicit GstAudioDeviceManager(GstRtcEngine* engine) : m_engine(engine) {}
    IAudioDeviceCollection* enumerateRecordingDevices() override
    {
        return new DeviceListCollection(m_engine->recordingDeviceList());
    }
    int setRecordingDevice(const char* deviceId) override { return m_engine->setRecordingDevice(deviceId); }
    int startRecordingDeviceTest(int indicationIntervalMs) override
    {
        return m_engine->startRecordingDeviceTest(indicationIntervalMs);
    }
    int stopRecordingDeviceTest() override { return m_engine->stopRecordingDeviceTest(); }
    void release() override { delete this; }

private:
    GstRtcEngine* m_engine = nullptr;
};

} // namespace rtc
} // namespace agora
