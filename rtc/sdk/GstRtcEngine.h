#pragma once

#include "rtc/sdk/AudioParameters.h"
#include "rtc/sdk/CallStatistics.h"
#include "rtc/sdk/LocalAudioCapture.h"
#include "rtc/sdk/RelaySet.h"
#include "rtc/sdk/RtcEngineBase.h"
#include "rtc/sdk/SdkEventLoop.h"
#include "rtc/sdk/SdkLog.h"

#include <QElapsedTimer>
#include <QList>
#include <QPair>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>

namespace agora {
namespace rtc {

// The real media backend. There is no RTC network here: joining a channel starts the capture
// of the chosen PulseAudio source (LocalAudioCapture), and each publish address gets its own
// ReconnectingRelay that encodes AAC-LC into FLV for the RTMP server and tries again while it
// cannot reach it. Only what the server acknowledged counts as sent (CallStatistics).
// This class is the SDK's surface: it checks each call's arguments, writes its SDK log lines
// and runs it on the SDK's own thread, where the callbacks come from too (the device test's
// level from the capture's thread); the destructor stops both, so no callback follows it.
class GstRtcEngine : public RtcEngineBase
{
public:
    // Statistics and level callbacks while joined.
    static constexpr unsigned int kStatsIntervalMs = 2000;
    // Accepted level intervals of the recording device test.
    static constexpr int kMinLevelIntervalMs = 10;
    static constexpr int kMaxLevelIntervalMs = 1000;

    GstRtcEngine();
    ~GstRtcEngine() override;

    int initialize(const RtcEngineContext& context) override;
    int setLogFile(const char* filePath) override;
    int disableVideo() override;
    int enableAudio() override;
    int setChannelProfile(int profile) override;
    int setClientRole(int role) override;
    int setAudioProfile(int profile, int scenario) override;
    int muteAllRemoteAudioStreams(bool mute) override;
    int muteLocalAudioStream(bool mute) override;
    int enableWebSdkInteroperability(bool enabled) override;
    int joinChannel(const char* token, const char* channelId, const char* info, unsigned int uid) override;
    int leaveChannel() override;
    int addPublishStreamUrl(const char* url, bool transcodingEnabled) override;
    int removePublishStreamUrl(const char* url) override;
    int adjustRecordingSignalVolume(int volume) override;

    // For the sub-interfaces.
    int setParameters(const char* parameters);
    QList<QPair<QString, QString>> recordingDeviceList();
    int setRecordingDevice(const char* deviceId);
    int startRecordingDeviceTest(int indicationIntervalMs);
    int stopRecordingDeviceTest();

private:
    using Callback = std::function<void(IRtcEngineEventHandler*)>;

    IRtcEngineParameter* createParameter() override;
    IAudioDeviceManager* createDeviceManager() override;

    int call(const std::function<int()>& body);
    void log(const QString& line);
    void notify(std::function<void(IRtcEngineEventHandler*)> callback);
    // Runs body on the SDK thread when the engine is initialised; refuses with a log line if not.
    int callInitialized(const char* operation, const std::function<int()>& body);

    // The capture feeds every open relay connection and the debug recording.
    void updateFeedTargets();
    void reportStatistics();

    SdkLog m_log;
    SdkEventLoop m_loop;

    // Everything below belongs to the SDK thread.
    bool m_initialized = false;
    // Read by the capture's thread too (the test's level).
    std::atomic<IRtcEngineEventHandler*> m_handler{nullptr};
    QString m_appId;
    int m_channelProfile = kChannelProfileCommunication;
    int m_clientRole = kClientRoleAudience;
    int m_audioProfile = kAudioProfileDefault;
    int m_audioScenario = kAudioScenarioDefault;

    bool m_joined = false;
    QString m_channel;
    unsigned int m_uid = 0;
    QElapsedTimer m_joinClock;
    unsigned int m_statsTimer = 0;

    LocalAudioCapture m_capture;
    AudioParameters m_parameters;
    CallStatistics m_statistics;
    RelaySet m_relays;
};

} // namespace rtc
} // namespace agora
