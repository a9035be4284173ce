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
// negative failure); -1 refusals happen before the SDK is called.
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

    // Where the SDK log of an engine constructed on that day goes (relative to the current
    // directory): "./log/Agora/DuvevEzivIzave-yyyyMMdd.log".
    static QString sdkLogFilePath(const QDate& date);

private:
    agora::rtc::IRtcEngine* m_engine = nullptr;
    QSharedPointer<AgoraRtcEngineEventHandler> m_eventHandler;
    bool m_pcmDump = false;
};
