#pragma once

#include "rtc/sdk/IAudioDeviceCollection.h"
#include "rtc/sdk/IAudioDeviceManager.h"
#include "rtc/sdk/IRtcEngineEventHandler.h"
#include "rtc/sdk/IRtcEngineParameter.h"
#include "rtc/sdk/RtcTypes.h"

namespace agora {
namespace rtc {

// The engine. Every operation returns 0 on success and a negative code on failure.
class IRtcEngine
{
public:
    // Releases the oldest engine still alive (engines are normally one at a time; when a new
    // one is created before the old one is let go, the old one goes first). Whatever sync says,
    // this returns only after the engine's threads have stopped, so no callback reaches the
    // event handler afterwards. Not from inside a callback (the SDK thread cannot wait for
    // itself).
    static void release(bool sync = false);

    virtual int initialize(const RtcEngineContext& context) = 0;
    virtual int setLogFile(const char* filePath) = 0;
    virtual int disableVideo() = 0;
    virtual int enableAudio() = 0;
    virtual int setChannelProfile(int profile) = 0;
    virtual int setClientRole(int role) = 0;
    virtual int setAudioProfile(int profile, int scenario) = 0;
    // Writes a new sub-interface into *inter (release it after use); negative for an unknown id.
    virtual int queryInterface(int interfaceId, void** inter) = 0;
    virtual int muteAllRemoteAudioStreams(bool mute) = 0;
    virtual int muteLocalAudioStream(bool mute) = 0;
    virtual int enableWebSdkInteroperability(bool enabled) = 0;
    virtual int joinChannel(const char* token, const char* channelId, const char* info, unsigned int uid) = 0;
    // Also ends the local mute (muteLocalAudioStream) of the stay.
    virtual int leaveChannel() = 0;
    virtual int addPublishStreamUrl(const char* url, bool transcodingEnabled) = 0;
    virtual int removePublishStreamUrl(const char* url) = 0;
    // 0..400; 100 leaves the level unchanged, 50 is -6 dB, 0 is silence.
    virtual int adjustRecordingSignalVolume(int volume) = 0;

protected:
    virtual ~IRtcEngine() = default;
};

} // namespace rtc
} // namespace agora

// A new engine: the real media backend, or what the installed engine factory makes
// (RtcEngineBase::setEngineFactory).
agora::rtc::IRtcEngine* createAgoraRtcEngine();
