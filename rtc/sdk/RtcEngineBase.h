#pragma once

#include "rtc/sdk/IRtcEngine.h"

#include <functional>

namespace agora {
namespace rtc {

// Common base of the backends' engines: the static IRtcEngine::release destroys them through
// this public destructor, which must stop every thread that could still raise a callback.
// Hands out the sub-interfaces the same way for every backend.
class RtcEngineBase : public IRtcEngine
{
public:
    RtcEngineBase();
    ~RtcEngineBase() override;

    RtcEngineBase(const RtcEngineBase&) = delete;
    RtcEngineBase& operator=(const RtcEngineBase&) = delete;

    int queryInterface(int interfaceId, void** inter) override;

    // Engines alive, oldest first (only for the release and the factory).
    static RtcEngineBase* takeOldest();

    // Told by IRtcEngine::release just before the engine is deleted.
    virtual void aboutToRelease(bool sync) { (void)sync; }

    // What createAgoraRtcEngine() makes; empty (the default) makes the GStreamer engine.
    // Tests install their own engines here.
    using EngineFactory = std::function<RtcEngineBase*()>;
    static void setEngineFactory(EngineFactory factory);

protected:
    // The recording volumes adjustRecordingSignalVolume accepts.
    static bool isValidVolume(int volume) { return volume >= 0 && volume <= 400; }

    virtual IRtcEngineParameter* createParameter() = 0;
    virtual IAudioDeviceManager* createDeviceManager() = 0;
};

} // namespace rtc
} // namespace agora
