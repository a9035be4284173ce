#pragma once

#include <QDateTime>
#include <QObject>
#include <QSharedPointer>
#include <QString>
#include <QVariantMap>

namespace agora {
namespace rtc {
class IRtcEngine;
}
} // namespace agora

class AgoraRtcEngineEventHandler;

// The program's only door to the real-time audio SDK: one configured engine for stereo music
// capture, joined as a broadcaster, relaying the capture to an RTMP address. Every operation
// is synchronous, runs on the GUI thread and returns the SDK's code unchanged (0 success,
// negative failure); -1 refusals happen before the SDK is called. The SDK's events that matter
// to the push arrive as queued signals on this object's thread.
class AgoraRtcEngine : public QObject
{
    Q_OBJECT

public:
    explicit AgoraRtcEngine(QObject* parent = nullptr);
    ~AgoraRtcEngine() override;

    int joinChannel(const QString& token, const QString& channelName, const QString& userId);
    int leaveChannel();
    int addPublishStreamUrl(const QString& url);
    int removePublishStreamUrl(const QString& url);
    int adjustRecordingSignalVolume(int volume);
    int muteLocalAudioStream(bool mute);
    int enableWebSdkInteroperability();
    int setPcmDump(bool enable);
    // {"name": [names], "guid": [ids], "length": count}; empty when there is no device.
    QVariantMap recordingDevices();
    int setRecordingDevice(const QString& deviceId);
    // Captures the chosen device without sending or recording anything; its level arrives as
    // sigCaptureLevel every indicationIntervalMs. Joining takes the running capture over.
    int startRecordingDeviceTest(int indicationIntervalMs);
    int stopRecordingDeviceTest();

    // Where the SDK log of an engine constructed on that day goes (relative to the current
    // directory): "./log/Agora/DuvevEzivIzave-yyyyMMdd.log".
    static QString sdkLogFilePath(const QDate& date);

signals:
    // SDK events that matter to the push, forwarded from the SDK's thread to this object's
    // (queued; none arrives after the engine is destroyed). States and codes are the SDK's
    // (rtc/sdk/RtcTypes.h).
    void sigRelayStateChanged(const QString& url, int state, int errorCode);
    // The relay lost its server; attempt number `attempt` to reach it again starts in delayMs.
    void sigRelayReconnecting(const QString& url, int attempt, int delayMs);
    void sigCaptureStateChanged(int state, int error);
    // A recording device appeared (kDeviceStateActive) or went (kDeviceStateUnplugged).
    void sigRecordingDeviceChanged(const QString& deviceId, int deviceState);
    // Bytes the RTMP server has acknowledged in this channel stay, and its current rate.
    void sigAcknowledgedTraffic(quint64 bytes, int kbps);
    // Captured level, 0..255.
    void sigCaptureLevel(int level);

private:
    agora::rtc::IRtcEngine* m_engine = nullptr;
    QSharedPointer<AgoraRtcEngineEventHandler> m_eventHandler;
    bool m_pcmDump = false;
};
