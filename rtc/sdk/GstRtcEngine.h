#pragma once

#include "rtc/sdk/RtcEngineBase.h"

namespace agora {
namespace rtc {

// The real media backend: captures the chosen PulseAudio source with GStreamer and relays it
// as AAC in FLV to RTMP addresses.
class GstRtcEngine : public RtcEngineBase
{
public:
    GstRtcEngine();
    ~GstRtcEngine() override;

    int initialize(const RtcEngineContext& context) override;
    int setLogFile(const char* filePath) override;
    int disableVideo() override;
    int enableAudio() override;
    int setChannelProfile(int profile) override;
    int setClientRole(int role) override;
    int setAudioProfile(int profile, int scenario) override;
    int queryInterface(int interfaceId, void** inter) override;
    int muteAllRemoteAudioStreams(bool mute) override;
    int muteLocalAudioStream(bool mute) override;
    int enableWebSdkInteroperability(bool enabled) override;
    int joinChannel(const char* token, const char* channelId, const char* info, unsigned int uid) override;
    int leaveChannel() override;
    int addPublishStreamUrl(const char* url, bool transcodingEnabled) override;
    int removePublishStreamUrl(const char* url) override;
    int adjustRecordingSignalVolume(int volume) override;
};

} // namespace rtc
} // namespace agora
