#pragma once

#include "rtc/sdk/IRtcEngineEventHandler.h"

#include <QDateTime>
#include <QString>

#include <limits>

class AgoraRtcEngine;

// Turns every SDK callback into one line of the application log. The three periodic statistics
// callbacks and the level indication are thinned to one line per wall-clock minute each, unless
// "vaDetailLog" is "true".
// The callbacks that matter to the push (relay state and reconnects, capture state, recording
// devices, acknowledged traffic, level) are also forwarded to the owner as queued signals.
class AgoraRtcEngineEventHandler : public agora::rtc::IRtcEngineEventHandler
{
public:
    // A level that keeps coming unchanged is forwarded this many times in a row (a meter has
    // fallen back to it by then), then once every kSteadyLevelMs: a silent or steady capture
    // does not wake the GUI thread twenty times a second, and silence is still told as it lasts.
    static constexpr int kSteadyLevelReports = 20;
    static constexpr qint64 kSteadyLevelMs = 1000;

    explicit AgoraRtcEngineEventHandler(AgoraRtcEngine* owner);
    ~AgoraRtcEngineEventHandler() override;

    // "uid,volume,vad" per speaker joined with "|".
    static QString volumeText(const agora::rtc::AudioVolumeInfo* speakers, unsigned int speakerNumber);

    void onWarning(int warn, const char* msg) override;
    void onError(int err, const char* msg) override;
    void onJoinChannelSuccess(const char* channel, unsigned int uid, int elapsed) override;
    void onRejoinChannelSuccess(const char* channel, unsigned int uid, int elapsed) override;
    void onLeaveChannel(const agora::rtc::RtcStats& stats) override;
    void onClientRoleChanged(int oldRole, int newRole) override;
    void onUserJoined(unsigned int uid, int elapsed) override;
    void onUserOffline(unsigned int uid, int reason) override;
    void onLastmileQuality(int quality) override;
    void onLastmileProbeResult(const agora::rtc::LastmileProbeResult& result) override;
    void onConnectionInterrupted() override;
    void onConnectionLost() override;
    void onConnectionBanned() override;
    void onApiCallExecuted(int err, const char* api, const char* result) override;
    void onRequestToken() override;
    void onTokenPrivilegeWillExpire(const char* token) override;
    void onAudioQuality(unsigned int uid, int quality, unsigned short delay, unsigned short lost) override;
    void onRtcStats(const agora::rtc::RtcStats& stats) override;
    void onNetworkQuality(unsigned int uid, int txQuality, int rxQuality) override;
    void onLocalVideoStats(const agora::rtc::LocalVideoStats& stats) override;
    void onRemoteVideoStats(const agora::rtc::RemoteVideoStats& stats) override;
    void onLocalAudioStats(const agora::rtc::LocalAudioStats& stats) override;
    void onRemoteAudioStats(const agora::rtc::RemoteAudioStats& stats) override;
    void onLocalAudioStateChanged(int state, int error) override;
    void onRemoteAudioStateChanged(unsigned int uid, int state, int reason, int elapsed) override;
    void onAudioVolumeIndication(const agora::rtc::AudioVolumeInfo* speakers, unsigned int speakerNumber,
                                 int totalVolume) override;
    void onActiveSpeaker(unsigned int uid) override;
    void onVideoStopped() override;
    void onFirstLocalVideoFrame(int width, int height, int elapsed) override;
    void onFirstRemoteVideoDecoded(unsigned int uid, int width, int height, int elapsed) override;
    void onFirstRemoteVideoFrame(unsigned int uid, int width, int height, int elapsed) override;
    void onUserMuteAudio(unsigned int uid, bool muted) override;
    void onUserMuteVideo(unsigned int uid, bool muted) override;
    void onUserEnableVideo(unsigned int uid, bool enabled) override;
    void onAudioDeviceStateChanged(const char* deviceId, int deviceType, int deviceState) override;
    void onAudioDeviceVolumeChanged(int deviceType, int volume, bool muted) override;
    void onCameraReady() override;
    void onCameraFocusAreaChanged(int x, int y, int width, int height) override;
    void onCameraExposureAreaChanged(int x, int y, int width, int height) override;
    void onAudioMixingFinished() override;
    void onAudioMixingStateChanged(int state, int errorCode) override;
    void onRemoteAudioMixingBegin() override;
    void onRemoteAudioMixingEnd() override;
    void onAudioEffectFinished(int soundId) override;
    void onFirstRemoteAudioDecoded(unsigned int uid, int elapsed) override;
    void onVideoDeviceStateChanged(const char* deviceId, int deviceType, int deviceState) override;
    void onLocalVideoStateChanged(int localVideoState, int error) override;
    void onVideoSizeChanged(unsigned int uid, int width, int height, int rotation) override;
    void onRemoteVideoStateChanged(unsigned int uid, int state, int reason, int elapsed) override;
    void onUserEnableLocalVideo(unsigned int uid, bool enabled) override;
    void onStreamMessage(unsigned int uid, int streamId, const char* data, size_t length) override;
    void onStreamMessageError(unsigned int uid, int streamId, int code, int missed, int cached) override;
    void onMediaEngineLoadSuccess() override;
    void onMediaEngineStartCallSuccess() override;
    void onChannelMediaRelayStateChanged(int state, int code) override;
    void onChannelMediaRelayEvent(int code) override;
    void onFirstLocalAudioFrame(int elapsed) override;
    void onFirstRemoteAudioFrame(unsigned int uid, int elapsed) override;
    void onRtmpStreamingStateChanged(const char* url, int state, int errCode) override;
    void onStreamPublished(const char* url, int error) override;
    void onStreamUnpublished(const char* url) override;
    void onRtmpStreamingReconnecting(const char* url, int attempt, int delayMs) override;
    void onTranscodingUpdated() override;
    void onStreamInjectedStatus(const char* url, unsigned int uid, int status) override;
    void onAudioRouteChanged(int routing) override;
    void onLocalPublishFallbackToAudioOnly(bool isFallbackOrRecover) override;
    void onRemoteSubscribeFallbackToAudioOnly(unsigned int uid, bool isFallbackOrRecover) override;
    void onRemoteAudioTransportStats(unsigned int uid, unsigned short delay, unsigned short lost,
                                     unsigned short rxKBitRate) override;
    void onRemoteVideoTransportStats(unsigned int uid, unsigned short delay, unsigned short lost,
                                     unsigned short rxKBitRate) override;
    void onMicrophoneEnabled(bool enabled) override;
    void onConnectionStateChanged(int state, int reason) override;
    void onNetworkTypeChanged(int type) override;
    void onLocalUserRegistered(unsigned int uid, const char* userAccount) override;
    void onUserInfoUpdated(unsigned int uid, const agora::rtc::UserInfo& info) override;

private:
    // True when the line of a throttled callback is to be written (updates its stamp).
    bool passesMinuteThrottle(qint64& lastMinute);
    // Runs emitter(owner) on the owner's thread later; nothing without an owner.
    template <typename Emit> void forward(Emit emitter);

    static constexpr qint64 kNoMinute = std::numeric_limits<qint64>::min();

    AgoraRtcEngine* m_owner = nullptr;
    qint64 m_lastRtcStatsMinute = kNoMinute;
    qint64 m_lastNetworkQualityMinute = kNoMinute;
    qint64 m_lastLocalAudioStatsMinute = kNoMinute;
    qint64 m_lastVolumeIndicationMinute = kNoMinute;
    // The level last forwarded and how often in a row it came.
    int m_lastLevel = -1;
    int m_levelRepeats = 0;
    qint64 m_lastLevelForwardMs = 0;
    bool m_detailLog = false;
};
