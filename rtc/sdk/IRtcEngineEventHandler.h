#pragma once

#include "rtc/sdk/RtcTypes.h"

#include <cstddef>

namespace agora {
namespace rtc {

// Callbacks of the engine. Every callback has an empty default; they arrive on the SDK's own
// threads, never on the caller's thread. After IRtcEngine::release() returns none is called.
class IRtcEngineEventHandler
{
public:
    virtual ~IRtcEngineEventHandler() = default;

    virtual void onWarning(int warn, const char* msg) { (void)warn, (void)msg; }
    virtual void onError(int err, const char* msg) { (void)err, (void)msg; }
    virtual void onJoinChannelSuccess(const char* channel, unsigned int uid, int elapsed)
    {
        (void)channel, (void)uid, (void)elapsed;
    }
    virtual void onRejoinChannelSuccess(const char* channel, unsigned int uid, int elapsed)
    {
        (void)channel, (void)uid, (void)elapsed;
    }
    virtual void onLeaveChannel(const RtcStats& stats) { (void)stats; }
    virtual void onClientRoleChanged(int oldRole, int newRole) { (void)oldRole, (void)newRole; }
    virtual void onUserJoined(unsigned int uid, int elapsed) { (void)uid, (void)elapsed; }
    virtual void onUserOffline(unsigned int uid, int reason) { (void)uid, (void)reason; }
    virtual void onLastmileQuality(int quality) { (void)quality; }
    virtual void onLastmileProbeResult(const LastmileProbeResult& result) { (void)result; }
    virtual void onConnectionInterrupted() {}
    virtual void onConnectionLost() {}
    virtual void onConnectionBanned() {}
    virtual void onApiCallExecuted(int err, const char* api, const char* result)
    {
        (void)err, (void)api, (void)result;
    }
    virtual void onRequestToken() {}
    virtual void onTokenPrivilegeWillExpire(const char* token) { (void)token; }
    virtual void onAudioQuality(unsigned int uid, int quality, unsigned short delay, unsigned short lost)
    {
        (void)uid, (void)quality, (void)delay, (void)lost;
    }
    virtual void onRtcStats(const RtcStats& stats) { (void)stats; }
    virtual void onNetworkQuality(unsigned int uid, int txQuality, int rxQuality)
    {
        (void)uid, (void)txQuality, (void)rxQuality;
    }
    virtual void onLocalVideoStats(const LocalVideoStats& stats) { (void)stats; }
    virtual void onRemoteVideoStats(const RemoteVideoStats& stats) { (void)stats; }
    virtual void onLocalAudioStats(const LocalAudioStats& stats) { (void)stats; }
    virtual void onRemoteAudioStats(const RemoteAudioStats& stats) { (void)stats; }
    virtual void onLocalAudioStateChanged(int state, int error) { (void)state, (void)error; }
    virtual void onRemoteAudioStateChanged(unsigned int uid, int state, int reason, int elapsed)
    {
        (void)uid, (void)state, (void)reason, (void)elapsed;
    }
    virtual void onAudioVolumeIndication(const AudioVolumeInfo* speakers, unsigned int speakerNumber,
                                         int totalVolume)
    {
        (void)speakers, (void)speakerNumber, (void)totalVolume;
    }
    virtual void onActiveSpeaker(unsigned int uid) { (void)uid; }
    virtual void onVideoStopped() {}
    virtual void onFirstLocalVideoFrame(int width, int height, int elapsed)
    {
        (void)width, (void)height, (void)elapsed;
    }
    virtual void onFirstRemoteVideoDecoded(unsigned int uid, int width, int height, int elapsed)
    {
        (void)uid, (void)width, (void)height, (void)elapsed;
    }
    virtual void onFirstRemoteVideoFrame(unsigned int uid, int width, int height, int elapsed)
    {
        (void)uid, (void)width, (void)height, (void)elapsed;
    }
    virtual void onUserMuteAudio(unsigned int uid, bool muted) { (void)uid, (void)muted; }
    virtual void onUserMuteVideo(unsigned int uid, bool muted) { (void)uid, (void)muted; }
    virtual void onUserEnableVideo(unsigned int uid, bool enabled) { (void)uid, (void)enabled; }
    virtual void onAudioDeviceStateChanged(const char* deviceId, int deviceType, int deviceState)
    {
        (void)deviceId, (void)deviceType, (void)deviceState;
    }
    virtual void onAudioDeviceVolumeChanged(int deviceType, int volume, bool muted)
    {
        (void)deviceType, (void)volume, (void)muted;
    }
    virtual void onCameraReady() {}
    virtual void onCameraFocusAreaChanged(int x, int y, int width, int height)
    {
        (void)x, (void)y, (void)width, (void)height;
    }
    virtual void onCameraExposureAreaChanged(int x, int y, int width, int height)
    {
        (void)x, (void)y, (void)width, (void)height;
    }
    virtual void onAudioMixingFinished() {}
    virtual void onAudioMixingStateChanged(int state, int errorCode) { (void)state, (void)errorCode; }
    virtual void onRemoteAudioMixingBegin() {}
    virtual void onRemoteAudioMixingEnd() {}
    virtual void onAudioEffectFinished(int soundId) { (void)soundId; }
    virtual void onFirstRemoteAudioDecoded(unsigned int uid, int elapsed) { (void)uid, (void)elapsed; }
    virtual void onVideoDeviceStateChanged(const char* deviceId, int deviceType, int deviceState)
    {
        (void)deviceId, (void)deviceType, (void)deviceState;
    }
    virtual void onLocalVideoStateChanged(int localVideoState, int error)
    {
        (void)localVideoState, (void)error;
    }
    virtual void onVideoSizeChanged(unsigned int uid, int width, int height, int rotation)
    {
        (void)uid, (void)width, (void)height, (void)rotation;
    }
    virtual void onRemoteVideoStateChanged(unsigned int uid, int state, int reason, int elapsed)
    {
        (void)uid, (void)state, (void)reason, (void)elapsed;
    }
    virtual void onUserEnableLocalVideo(unsigned int uid, bool enabled) { (void)uid, (void)enabled; }
    virtual void onStreamMessage(unsigned int uid, int streamId, const char* data, size_t length)
    {
        (void)uid, (void)streamId, (void)data, (void)length;
    }
    virtual void onStreamMessageError(unsigned int uid, int streamId, int code, int missed, int cached)
    {
        (void)uid, (void)streamId, (void)code, (void)missed, (void)cached;
    }
    virtual void onMediaEngineLoadSuccess() {}
    virtual void onMediaEngineStartCallSuccess() {}
    virtual void onChannelMediaRelayStateChanged(int state, int code) { (void)state, (void)code; }
    virtual void onChannelMediaRelayEvent(int code) { (void)code; }
    virtual void onFirstLocalAudioFrame(int elapsed) { (void)elapsed; }
    virtual void onFirstRemoteAudioFrame(unsigned int uid, int elapsed) { (void)uid, (void)elapsed; }
    virtual void onRtmpStreamingStateChanged(const char* url, int state, int errCode)
    {
        (void)url, (void)state, (void)errCode;
    }
    virtual void onStreamPublished(const char* url, int error) { (void)url, (void)error; }
    // The relay to url lost or could not reach its server; attempt number `attempt` (1, 2, ...)
    // to reach it again starts in delayMs. Raised once per attempt, after
    // onRtmpStreamingStateChanged(url, kRtmpStateRecovering, reason).
    virtual void onRtmpStreamingReconnecting(const char* url, int attempt, int delayMs)
    {
        (void)url, (void)attempt, (void)delayMs;
    }
    virtual void onStreamUnpublished(const char* url) { (void)url; }
    virtual void onTranscodingUpdated() {}
    virtual void onStreamInjectedStatus(const char* url, unsigned int uid, int status)
    {
        (void)url, (void)uid, (void)status;
    }
    virtual void onAudioRouteChanged(int routing) { (void)routing; }
    virtual void onLocalPublishFallbackToAudioOnly(bool isFallbackOrRecover) { (void)isFallbackOrRecover; }
    virtual void onRemoteSubscribeFallbackToAudioOnly(unsigned int uid, bool isFallbackOrRecover)
    {
        (void)uid, (void)isFallbackOrRecover;
    }
    virtual void onRemoteAudioTransportStats(unsigned int uid, unsigned short delay, unsigned short lost,
                                             unsigned short rxKBitRate)
    {
        (void)uid, (void)delay, (void)lost, (void)rxKBitRate;
    }
    virtual void onRemoteVideoTransportStats(unsigned int uid, unsigned short delay, unsigned short lost,
                                             unsigned short rxKBitRate)
    {
        (void)uid, (void)delay, (void)lost, (void)rxKBitRate;
    }
    virtual void onMicrophoneEnabled(bool enabled) { (void)enabled; }
    virtual void onConnectionStateChanged(int state, int reason) { (void)state, (void)reason; }
    virtual void onNetworkTypeChanged(int type) { (void)type; }
    virtual void onLocalUserRegistered(unsigned int uid, const char* userAccount)
    {
        (void)uid, (void)userAccount;
    }
    virtual void onUserInfoUpdated(unsigned int uid, const UserInfo& info) { (void)uid, (void)info; }
};

} // namespace rtc
} // namespace agora
