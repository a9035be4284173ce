#include "rtc/AgoraRtcEngineEventHandler.h"

#include "base/OutsideText.h"
#include "base/VClock.h"
#include "config/VGlobalConfig.h"
#include "rtc/AgoraRtcEngine.h"

#include <QDebug>
#include <QStringList>

#include <cstring>

using namespace agora::rtc;

namespace {

// Zero-terminated SDK text as Latin-1; null gives an empty text.
QString sdkText(const char* text)
{
    return text ? OutsideText::capped(QString::fromLatin1(text)) : QString();
}

// Bounded variant for buffers that need not carry a terminating zero.
QString sdkText(const char* text, size_t maxLength)
{
    if (!text)
        return QString();
    const void* zero = std::memchr(text, 0, maxLength);
    const size_t length = zero ? static_cast<size_t>(static_cast<const char*>(zero) - text) : maxLength;
    return OutsideText::capped(QString::fromLatin1(text, static_cast<int>(qMin<size_t>(length, INT_MAX))));
}

// Text the SDK hands over as UTF-8 (device ids, addresses), for the signals.
QString sdkUtf8(const char* text)
{
    return text ? QString::fromUtf8(text) : QString();
}

void logRtcStats(const char* name, const RtcStats& s)
{
    qInfo() << name << s.duration << s.txBytes << s.rxBytes << s.txAudioBytes << s.txVideoBytes
            << s.rxAudioBytes << s.rxVideoBytes << s.txKBitRate << s.rxKBitRate << s.rxAudioKBitRate
            << s.txAudioKBitRate << s.rxVideoKBitRate << s.txVideoKBitRate << s.lastmileDelay
            << s.txPacketLossRate << s.rxPacketLossRate << s.userCount << s.cpuAppUsage << s.cpuTotalUsage;
}

} // namespace

AgoraRtcEngineEventHandler::AgoraRtcEngineEventHandler(AgoraRtcEngine* owner)
    : m_owner(owner),
      m_detailLog(VGlobalConfig::instance()->value(QStringLiteral("vaDetailLog")) == QLatin1String("true"))
{
}

AgoraRtcEngineEventHandler::~AgoraRtcEngineEventHandler() = default;

template <typename Emit> void AgoraRtcEngineEventHandler::forward(Emit emitter)
{
    // Queued onto the owner's (GUI) thread; dropped with the owner if it is gone by then.
    AgoraRtcEngine* owner = m_owner;
    if (owner)
        QMetaObject::invokeMethod(
            owner, [owner, emitter] { emitter(owner); }, Qt::QueuedConnection);
}

QString AgoraRtcEngineEventHandler::volumeText(const AudioVolumeInfo* speakers, unsigned int speakerNumber)
{
    QStringList parts;
    if (speakers) {
        for (unsigned int i = 0; i < speakerNumber; ++i) {
            const AudioVolumeInfo& speaker = speakers[i];
            parts.append(QStringLiteral("%1,%2,%3").arg(speaker.uid).arg(speaker.volume).arg(speaker.vad));
        }
    }
    return parts.join(QLatin1Char('|'));
}

bool AgoraRtcEngineEventHandler::passesMinuteThrottle(qint64& lastMinute)
{
    if (m_detailLog)
        return true;
    // The calendar minute as a number: the level comes twenty times a second, and formatting
    // local time each time cost more than the rest of the callback. Every time zone's offset is
    // whole minutes, so local and UTC minutes turn over together.
    const qint64 ms = VClock::nowMsSinceEpoch();
    const qint64 minute = ms / 60000 - (ms < 0 && ms % 60000 != 0 ? 1 : 0);
    if (minute == lastMinute)
        return false;
    lastMinute = minute;
    return true;
}

void AgoraRtcEngineEventHandler::onWarning(int warn, const char* msg)
{
    qInfo() << "onWarning" << warn << sdkText(msg);
}

void AgoraRtcEngineEventHandler::onError(int err, const char* msg)
{
    qInfo() << "onError" << err << sdkText(msg);
}

void AgoraRtcEngineEventHandler::onJoinChannelSuccess(const char* channel, unsigned int uid, int elapsed)
{
    qInfo() << "onJoinChannelSuccess" << sdkText(channel) << uid << elapsed;
}

void AgoraRtcEngineEventHandler::onRejoinChannelSuccess(const char* channel, unsigned int uid, int elapsed)
{
    qInfo() << "onRejoinChannelSuccess" << sdkText(channel) << uid << elapsed;
}

void AgoraRtcEngineEventHandler::onLeaveChannel(const RtcStats& stats)
{
    logRtcStats("onLeaveChannel", stats);
}

void AgoraRtcEngineEventHandler::onClientRoleChanged(int oldRole, int newRole)
{
    qInfo() << "onClientRoleChanged" << oldRole << newRole;
}

void AgoraRtcEngineEventHandler::onUserJoined(unsigned int uid, int elapsed)
{
    qInfo() << "onUserJoined" << uid << elapsed;
}

void AgoraRtcEngineEventHandler::onUserOffline(unsigned int uid, int reason)
{
    qInfo() << "onUserOffline" << uid << reason;
}

void AgoraRtcEngineEventHandler::onLastmileQuality(int quality)
{
    qInfo() << "onLastmileQuality" << quality;
}

void AgoraRtcEngineEventHandler::onLastmileProbeResult(const LastmileProbeResult& r)
{
    qInfo() << "onLastmileProbeResult" << r.state << r.uplinkReport.packetLossRate << r.uplinkReport.jitter
            << r.uplinkReport.availableBandwidth << r.downlinkReport.packetLossRate << r.downlinkReport.jitter
            << r.downlinkReport.availableBandwidth << r.rtt;
}

void AgoraRtcEngineEventHandler::onConnectionInterrupted()
{
    qInfo() << "onConnectionInterrupted";
}

void AgoraRtcEngineEventHandler::onConnectionLost()
{
    qInfo() << "onConnectionLost";
}

void AgoraRtcEngineEventHandler::onConnectionBanned()
{
    qInfo() << "onConnectionBanned";
}

void AgoraRtcEngineEventHandler::onApiCallExecuted(int err, const char* api, const char* result)
{
    qInfo() << "onApiCallExecuted" << err << sdkText(api) << sdkText(result);
}

void AgoraRtcEngineEventHandler::onRequestToken()
{
    qInfo() << "onRequestToken";
}

void AgoraRtcEngineEventHandler::onTokenPrivilegeWillExpire(const char* token)
{
    qInfo() << "onTokenPrivilegeWillExpire" << sdkText(token);
}

void AgoraRtcEngineEventHandler::onAudioQuality(unsigned int uid, int quality, unsigned short delay,
                                                unsigned short lost)
{
    qInfo() << "onAudioQuality" << uid << quality << delay << lost;
}

void AgoraRtcEngineEventHandler::onRtcStats(const RtcStats& stats)
{
    if (passesMinuteThrottle(m_lastRtcStatsMinute))
        logRtcStats("onRtcStats", stats);
    const quint64 bytes = stats.txBytes;
    const int kbps = stats.txKBitRate;
    forward([bytes, kbps](AgoraRtcEngine* owner) { emit owner->sigAcknowledgedTraffic(bytes, kbps); });
}

void AgoraRtcEngineEventHandler::onNetworkQuality(unsigned int uid, int txQuality, int rxQuality)
{
    if (passesMinuteThrottle(m_lastNetworkQualityMinute))
        qInfo() << "onNetworkQuality" << uid << txQuality << rxQuality;
}

void AgoraRtcEngineEventHandler::onLocalVideoStats(const LocalVideoStats& s)
{
    qInfo() << "onLocalVideoStats" << s.sentBitrate << s.sentFrameRate << s.encoderOutputFrameRate
            << s.rendererOutputFrameRate << s.targetBitrate << s.targetFrameRate << s.qualityAdaptation
            << s.encodedBitrate << s.encodedFrameWidth << s.encodedFrameHeight << s.encodedFrameCount
            << s.codecType;
}

void AgoraRtcEngineEventHandler::onRemoteVideoStats(const RemoteVideoStats& s)
{
    qInfo() << "onRemoteVideoStats" << s.uid << s.delay << s.width << s.height << s.receivedBitrate
            << s.decoderOutputFrameRate << s.rendererOutputFrameRate << s.packetLossRate << s.streamType
            << s.totalFrozenTime << s.frozenRate;
}

void AgoraRtcEngineEventHandler::onLocalAudioStats(const LocalAudioStats& stats)
{
    if (passesMinuteThrottle(m_lastLocalAudioStatsMinute))
        qInfo() << "onLocalAudioStats" << stats.numChannels << stats.sentSampleRate << stats.sentBitrate;
}

void AgoraRtcEngineEventHandler::onRemoteAudioStats(const RemoteAudioStats& s)
{
    qInfo() << "onRemoteAudioStats" << s.uid << s.quality << s.networkTransportDelay << s.jitterBufferDelay
            << s.audioLossRate << s.numChannels << s.receivedSampleRate << s.receivedBitrate
            << s.totalFrozenTime << s.frozenRate;
}

void AgoraRtcEngineEventHandler::onLocalAudioStateChanged(int state, int error)
{
    qInfo() << "onLocalAudioStateChanged" << state << error;
    forward([state, error](AgoraRtcEngine* owner) { emit owner->sigCaptureStateChanged(state, error); });
}

void AgoraRtcEngineEventHandler::onRemoteAudioStateChanged(unsigned int uid, int state, int reason,
                                                           int elapsed)
{
    qInfo() << "onRemoteAudioStateChanged" << uid << state << reason << elapsed;
}

void AgoraRtcEngineEventHandler::onAudioVolumeIndication(const AudioVolumeInfo* speakers,
                                                         unsigned int speakerNumber, int totalVolume)
{
    // The device test reports the level twenty times a second: a line a minute is enough.
    if (passesMinuteThrottle(m_lastVolumeIndicationMinute))
        qInfo() << "onAudioVolumeIndication" << volumeText(speakers, speakerNumber) << speakerNumber
                << totalVolume;
    const qint64 nowMs = VClock::monotonicMs();
    if (totalVolume == m_lastLevel) {
        ++m_levelRepeats;
        if (m_levelRepeats > kSteadyLevelReports && nowMs - m_lastLevelForwardMs < kSteadyLevelMs)
            return;
    } else {
        m_lastLevel = totalVolume;
        m_levelRepeats = 0;
    }
    m_lastLevelForwardMs = nowMs;
    forward([totalVolume](AgoraRtcEngine* owner) { emit owner->sigCaptureLevel(totalVolume); });
}

void AgoraRtcEngineEventHandler::onActiveSpeaker(unsigned int uid)
{
    qInfo() << "onActiveSpeaker" << uid;
}

void AgoraRtcEngineEventHandler::onVideoStopped()
{
    qInfo() << "onVideoStopped";
}

void AgoraRtcEngineEventHandler::onFirstLocalVideoFrame(int width, int height, int elapsed)
{
    qInfo() << "onFirstLocalVideoFrame" << width << height << elapsed;
}

void AgoraRtcEngineEventHandler::onFirstRemoteVideoDecoded(unsigned int uid, int width, int height,
                                                           int elapsed)
{
    qInfo() << "onFirstRemoteVideoDecoded" << uid << width << height << elapsed;
}

void AgoraRtcEngineEventHandler::onFirstRemoteVideoFrame(unsigned int uid, int width, int height, int elapsed)
{
    qInfo() << "onFirstRemoteVideoFrame" << uid << width << height << elapsed;
}

void AgoraRtcEngineEventHandler::onUserMuteAudio(unsigned int uid, bool muted)
{
    qInfo() << "onUserMuteAudio" << uid << muted;
}

void AgoraRtcEngineEventHandler::onUserMuteVideo(unsigned int uid, bool muted)
{
    qInfo() << "onUserMuteVideo" << uid << muted;
}

void AgoraRtcEngineEventHandler::onUserEnableVideo(unsigned int uid, bool enabled)
{
    qInfo() << "onUserEnableVideo" << uid << enabled;
}

void AgoraRtcEngineEventHandler::onAudioDeviceStateChanged(const char* deviceId, int deviceType,
                                                           int deviceState)
{
    qInfo() << "onAudioDeviceStateChanged" << sdkText(deviceId) << deviceType << deviceState;
    if (deviceType != kAudioRecordingDevice)
        return;
    const QString id = sdkUtf8(deviceId);
    forward(
        [id, deviceState](AgoraRtcEngine* owner) { emit owner->sigRecordingDeviceChanged(id, deviceState); });
}

void AgoraRtcEngineEventHandler::onAudioDeviceVolumeChanged(int deviceType, int volume, bool muted)
{
    qInfo() << "onAudioDeviceVolumeChanged" << deviceType << volume << muted;
}

void AgoraRtcEngineEventHandler::onCameraReady()
{
    qInfo() << "onCameraReady";
}

void AgoraRtcEngineEventHandler::onCameraFocusAreaChanged(int x, int y, int width, int height)
{
    qInfo() << "onCameraFocusAreaChanged" << x << y << width << height;
}

void AgoraRtcEngineEventHandler::onCameraExposureAreaChanged(int x, int y, int width, int height)
{
    qInfo() << "onCameraExposureAreaChanged" << x << y << width << height;
}

void AgoraRtcEngineEventHandler::onAudioMixingFinished()
{
    qInfo() << "onAudioMixingFinished";
}

void AgoraRtcEngineEventHandler::onAudioMixingStateChanged(int state, int errorCode)
{
    qInfo() << "onAudioMixingStateChanged" << state << errorCode;
}

void AgoraRtcEngineEventHandler::onRemoteAudioMixingBegin()
{
    qInfo() << "onRemoteAudioMixingBegin";
}

void AgoraRtcEngineEventHandler::onRemoteAudioMixingEnd()
{
    qInfo() << "onRemoteAudioMixingEnd";
}

void AgoraRtcEngineEventHandler::onAudioEffectFinished(int soundId)
{
    qInfo() << "onAudioEffectFinished" << soundId;
}

void AgoraRtcEngineEventHandler::onFirstRemoteAudioDecoded(unsigned int uid, int elapsed)
{
    qInfo() << "onFirstRemoteAudioDecoded" << uid << elapsed;
}

void AgoraRtcEngineEventHandler::onVideoDeviceStateChanged(const char* deviceId, int deviceType,
                                                           int deviceState)
{
    qInfo() << "onVideoDeviceStateChanged" << sdkText(deviceId) << deviceType << deviceState;
}

void AgoraRtcEngineEventHandler::onLocalVideoStateChanged(int localVideoState, int error)
{
    qInfo() << "onLocalVideoStateChanged" << localVideoState << error;
}

void AgoraRtcEngineEventHandler::onVideoSizeChanged(unsigned int uid, int width, int height, int rotation)
{
    qInfo() << "onVideoSizeChanged" << uid << width << height << rotation;
}

void AgoraRtcEngineEventHandler::onRemoteVideoStateChanged(unsigned int uid, int state, int reason,
                                                           int elapsed)
{
    qInfo() << "onRemoteVideoStateChanged" << uid << state << reason << elapsed;
}

void AgoraRtcEngineEventHandler::onUserEnableLocalVideo(unsigned int uid, bool enabled)
{
    qInfo() << "onUserEnableLocalVideo" << uid << enabled;
}

void AgoraRtcEngineEventHandler::onStreamMessage(unsigned int uid, int streamId, const char* data,
                                                 size_t length)
{
    // The message is a byte buffer of the given length, not necessarily zero-terminated: never
    // read past its end.
    qInfo() << "onStreamMessage" << uid << streamId << sdkText(data, length) << length;
}

void AgoraRtcEngineEventHandler::onStreamMessageError(unsigned int uid, int streamId, int code, int missed,
                                                      int cached)
{
    qInfo() << "onStreamMessageError" << uid << streamId << code << missed << cached;
}

void AgoraRtcEngineEventHandler::onMediaEngineLoadSuccess()
{
    qInfo() << "onMediaEngineLoadSuccess";
}

void AgoraRtcEngineEventHandler::onMediaEngineStartCallSuccess()
{
    qInfo() << "onMediaEngineStartCallSuccess";
}

void AgoraRtcEngineEventHandler::onChannelMediaRelayStateChanged(int state, int code)
{
    qInfo() << "onChannelMediaRelayStateChanged" << state << code;
}

void AgoraRtcEngineEventHandler::onChannelMediaRelayEvent(int code)
{
    qInfo() << "onChannelMediaRelayEvent" << code;
}

void AgoraRtcEngineEventHandler::onFirstLocalAudioFrame(int elapsed)
{
    qInfo() << "onFirstLocalAudioFrame" << elapsed;
}

void AgoraRtcEngineEventHandler::onFirstRemoteAudioFrame(unsigned int uid, int elapsed)
{
    qInfo() << "onFirstRemoteAudioFrame" << uid << elapsed;
}

void AgoraRtcEngineEventHandler::onRtmpStreamingStateChanged(const char* url, int state, int errCode)
{
    qInfo() << "onRtmpStreamingStateChanged" << sdkText(url) << state << errCode;
    const QString address = sdkUtf8(url);
    forward([address, state, errCode](AgoraRtcEngine* owner) {
        emit owner->sigRelayStateChanged(address, state, errCode);
    });
}

void AgoraRtcEngineEventHandler::onRtmpStreamingReconnecting(const char* url, int attempt, int delayMs)
{
    // Not a callback of the log's list: forwarded only (the SDK log has its line).
    const QString address = sdkUtf8(url);
    forward([address, attempt, delayMs](AgoraRtcEngine* owner) {
        emit owner->sigRelayReconnecting(address, attempt, delayMs);
    });
}

void AgoraRtcEngineEventHandler::onStreamPublished(const char* url, int error)
{
    qInfo() << "onStreamPublished" << sdkText(url) << error;
}

void AgoraRtcEngineEventHandler::onStreamUnpublished(const char* url)
{
    qInfo() << "onStreamUnpublished" << sdkText(url);
}

void AgoraRtcEngineEventHandler::onTranscodingUpdated()
{
    qInfo() << "onTranscodingUpdated";
}

void AgoraRtcEngineEventHandler::onStreamInjectedStatus(const char* url, unsigned int uid, int status)
{
    qInfo() << "onStreamInjectedStatus" << sdkText(url) << uid << status;
}

void AgoraRtcEngineEventHandler::onAudioRouteChanged(int routing)
{
    qInfo() << "onAudioRouteChanged" << routing;
}

void AgoraRtcEngineEventHandler::onLocalPublishFallbackToAudioOnly(bool isFallbackOrRecover)
{
    qInfo() << "onLocalPublishFallbackToAudioOnly" << isFallbackOrRecover;
}

void AgoraRtcEngineEventHandler::onRemoteSubscribeFallbackToAudioOnly(unsigned int uid,
                                                                      bool isFallbackOrRecover)
{
    qInfo() << "onRemoteSubscribeFallbackToAudioOnly" << uid << isFallbackOrRecover;
}

void AgoraRtcEngineEventHandler::onRemoteAudioTransportStats(unsigned int uid, unsigned short delay,
                                                             unsigned short lost, unsigned short rxKBitRate)
{
    qInfo() << "onRemoteAudioTransportStats" << uid << delay << lost << rxKBitRate;
}

void AgoraRtcEngineEventHandler::onRemoteVideoTransportStats(unsigned int uid, unsigned short delay,
                                                             unsigned short lost, unsigned short rxKBitRate)
{
    qInfo() << "onRemoteVideoTransportStats" << uid << delay << lost << rxKBitRate;
}

void AgoraRtcEngineEventHandler::onMicrophoneEnabled(bool enabled)
{
    qInfo() << "onMicrophoneEnabled" << enabled;
}

void AgoraRtcEngineEventHandler::onConnectionStateChanged(int state, int reason)
{
    qInfo() << "onConnectionStateChanged" << state << reason;
}

void AgoraRtcEngineEventHandler::onNetworkTypeChanged(int type)
{
    qInfo() << "onNetworkTypeChanged" << type;
}

void AgoraRtcEngineEventHandler::onLocalUserRegistered(unsigned int uid, const char* userAccount)
{
    qInfo() << "onLocalUserRegistered" << uid << sdkText(userAccount);
}

void AgoraRtcEngineEventHandler::onUserInfoUpdated(unsigned int uid, const UserInfo& info)
{
    qInfo() << "onUserInfoUpdated" << uid << info.uid << sdkText(info.userAccount, sizeof(info.userAccount));
}
