#pragma once

#include "rtc/sdk/RtcEngineBase.h"
#include "rtc/sdk/SdkEventLoop.h"
#include "rtc/sdk/SdkLog.h"

#include <QElapsedTimer>
#include <QJsonValue>
#include <QList>
#include <QMap>
#include <QPair>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

typedef struct _GstBuffer GstBuffer;

namespace agora {
namespace rtc {

class GstCapture;
class GstFedPipeline;
class GstRelay;

// The real media backend. There is no RTC network here: joining a channel starts the capture
// of the chosen PulseAudio source, and each publish address gets its own relay that encodes
// AAC-LC into FLV and sends it to the RTMP server. Every operation runs on the SDK's own thread
// (callbacks too); the destructor stops that thread, so no callback follows it.
class GstRtcEngine : public RtcEngineBase
{
public:
    // Statistics and level callbacks while joined.
    static constexpr unsigned int kStatsIntervalMs = 2000;
    // How often relays in the connecting state are looked at.
    static constexpr unsigned int kRelayPollMs = 200;
    // A capture that delivers nothing for this long has lost its device (PulseAudio does not
    // always say so: the stream just stops).
    static constexpr unsigned int kCaptureStallMs = 3000;
    // Before the first buffer: some sources (a sink monitor behind a high-latency player) take
    // a couple of seconds to deliver anything.
    static constexpr unsigned int kCaptureFirstBufferMs = 6000;
    static constexpr unsigned int kCaptureCheckMs = 500;

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

private:
    enum class RelayState
    {
        Connecting,
        Running,
        Failed
    };
    struct RelayEntry
    {
        std::shared_ptr<GstRelay> relay;
        RelayState state = RelayState::Connecting;
    };

    IRtcEngineParameter* createParameter() override;
    IAudioDeviceManager* createDeviceManager() override;

    int call(const std::function<int()>& body);
    void log(const QString& line);
    void notify(std::function<void(IRtcEngineEventHandler*)> callback);
    // Runs body on the SDK thread when the engine is initialised; refuses with a log line if not.
    int callInitialized(const char* operation, const std::function<int()>& body);

    int startCapture();
    void stopCapture();
    void onCaptureBuffer(GstBuffer* buffer);
    void onCaptureError(const QString& error);
    void updateFeedTargets();
    void checkCapture();

    int applyParameter(const QString& key, const QJsonValue& value);
    int startDebugRecording(const QString& name);
    void stopDebugRecording();

    void stopRelay(const QString& url, bool report);
    void onRelayError(const QString& url, const std::shared_ptr<GstRelay>& relay, const QString& error);
    void pollRelays();
    void reportStatistics();
    RtcStats currentStats(unsigned int intervalMs);
    int relayErrorCode(const QString& error, bool wasRunning) const;

    SdkLog m_log;
    SdkEventLoop m_loop;

    // Everything below belongs to the SDK thread.
    bool m_initialized = false;
    IRtcEngineEventHandler* m_handler = nullptr;
    QString m_appId;
    bool m_heAacNoted = false;
    int m_channelProfile = kChannelProfileCommunication;
    int m_clientRole = kClientRoleAudience;
    int m_audioProfile = kAudioProfileDefault;
    int m_audioScenario = kAudioScenarioDefault;
    QMap<QString, QJsonValue> m_parameters;

    QString m_deviceId; // chosen device; empty: the system default
    int m_volume = 100;
    bool m_muted = false;

    bool m_joined = false;
    QString m_channel;
    unsigned int m_uid = 0;
    QElapsedTimer m_joinClock;
    std::unique_ptr<GstCapture> m_capture;
    std::atomic<bool> m_firstFrameSeen{false};

    QMap<QString, RelayEntry> m_relays;
    std::shared_ptr<GstFedPipeline> m_recorder;
    QString m_recordingPath;

    unsigned int m_statsTimer = 0;
    unsigned int m_pollTimer = 0;
    unsigned int m_captureTimer = 0;
    uint64_t m_captureFramesSeen = 0;
    QElapsedTimer m_captureProgress;
    uint64_t m_doneFlvBytes = 0; // bytes of relays already removed
    uint64_t m_doneAacBytes = 0;
    uint64_t m_lastFlvBytes = 0;
    uint64_t m_lastAacBytes = 0;
    uint64_t m_lastCaptureFrames = 0;
    long m_lastCpuAppUs = 0;
    unsigned long long m_lastCpuTotal = 0;
    unsigned long long m_lastCpuIdle = 0;
    double m_cpuTotalUsage = 0.0;
    QElapsedTimer m_statsClock;

    // Where captured buffers go; read on the streaming thread.
    std::mutex m_feedMutex;
    std::vector<std::shared_ptr<GstFedPipeline>> m_feedTargets;
};

} // namespace rtc
} // namespace agora
