#pragma once

#include "rtc/sdk/GstAudioDevices.h"
#include "rtc/sdk/RelayReconnectSchedule.h"
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
class GstDeviceWatch;
class GstFedPipeline;
class GstRelay;

// The real media backend. There is no RTC network here: joining a channel starts the capture
// of the chosen PulseAudio source, and each publish address gets its own relay that encodes
// AAC-LC into FLV and sends it to the RTMP server. A relay that loses or cannot reach its server
// tries again on the RelayReconnectSchedule until it is removed; a capture device that vanishes
// is replaced by silence until it is back. Only what the server acknowledged counts as sent.
// Every operation runs on the SDK's own thread (callbacks too); the destructor stops that
// thread, so no callback follows it.
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
    // Joining waits this long for a capture it has to start to play (not when the device test
    // already runs one).
    static constexpr int kCaptureStartWaitMs = 1000;
    // Accepted level intervals of the recording device test.
    static constexpr int kMinLevelIntervalMs = 10;
    static constexpr int kMaxLevelIntervalMs = 1000;
    // A running relay whose server owes more than two acknowledgement windows and has
    // acknowledged nothing for this long has lost its server (a server that stops reading
    // sends no error: the connection just stops moving).
    static constexpr qint64 kAckStallMs = 3000;
    // While the capture device is gone: silence goes out this often, and this often we look
    // whether the device is back (the device monitor usually says so sooner).
    static constexpr unsigned int kSilenceTickMs = 40;
    static constexpr unsigned int kDeviceRetryMs = 1000;
    // The acknowledged rate is measured over this span.
    static constexpr qint64 kRateSpanMs = 6000;

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
    enum class RelayState
    {
        Connecting,
        Running,
        Waiting // for the next attempt to reach the server; no pipeline
    };
    struct RelayEntry
    {
        std::shared_ptr<GstRelay> relay; // null while waiting
        RelayState state = RelayState::Connecting;
        RelayReconnectSchedule reconnect;
        bool everRunning = false;
        // The current connection's counts, as last seen.
        uint64_t ackedBytes = 0;
        uint64_t flvBytes = 0;
        uint64_t aacBytes = 0;
        qint64 lastAckMs = 0;
        // (real ms, acknowledged bytes) whenever the acknowledgement moved, newest last.
        QList<QPair<qint64, uint64_t>> ackSamples;
    };

    IRtcEngineParameter* createParameter() override;
    IAudioDeviceManager* createDeviceManager() override;

    int call(const std::function<int()>& body);
    void log(const QString& line);
    void notify(std::function<void(IRtcEngineEventHandler*)> callback);
    // Runs body on the SDK thread when the engine is initialised; refuses with a log line if not.
    int callInitialized(const char* operation, const std::function<int()>& body);

    QList<GstAudioDevices::Device> listDevices() const;
    // The capture runs while joined or testing the device.
    bool captureWanted() const { return m_joined || m_deviceTest; }
    int startCapture(int waitPlayingMs);
    void stopCapture();
    // Nothing wants the capture any more: it stops, and so does waiting for a lost device.
    void releaseCapture();
    void clearCaptureLost();
    void updateLevelTimer();
    // The captured peak since the last look, as the level of the local user (uid 0).
    AudioVolumeInfo takeLocalLevel();
    void reportLevel();
    void onCaptureBuffer(GstBuffer* buffer);
    void onCaptureError(const QString& error);
    void feed(GstBuffer* buffer);
    void startSilence();
    void stopSilence();
    void pushSilence();
    void tryRestoreCapture();
    void onDeviceChange(const QString& id, bool present);
    void updateFeedTargets();
    void checkCapture();

    int applyParameter(const QString& key, const QJsonValue& value);
    int startDebugRecording(const QString& name);
    void stopDebugRecording();

    std::shared_ptr<GstRelay> makeRelay(const QString& url);
    void stopRelay(const QString& url, bool report);
    // Ends the entry's connection (if any) and books its counts; no events.
    void retireConnection(RelayEntry& entry, int eosWaitMs);
    void onRelayError(const QString& url, const std::shared_ptr<GstRelay>& relay, const QString& error);
    void failRelay(const QString& url, RelayEntry& entry, const QString& error, int code);
    void startAttempt(const QString& url, RelayEntry& entry);
    // Books the acknowledgements of a running relay; with detectStall, fails a relay whose
    // server has stopped acknowledging.
    void checkAcknowledgements(const QString& url, RelayEntry& entry, qint64 nowMs, bool detectStall);
    void pollRelays();
    unsigned int acknowledgedKBitRate();
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
    bool m_deviceTest = false;
    int m_levelIntervalMs = 0;
    unsigned int m_levelTimer = 0;
    int m_volume = 100;
    bool m_muted = false;

    bool m_joined = false;
    QString m_channel;
    unsigned int m_uid = 0;
    QElapsedTimer m_joinClock;
    std::unique_ptr<GstCapture> m_capture;
    std::atomic<bool> m_firstFrameSeen{false};
    std::unique_ptr<GstDeviceWatch> m_deviceWatch;
    // The capture device is gone while the capture is wanted; while joined, silence is sent
    // instead.
    bool m_captureLost = false;
    QString m_lostDeviceId;
    unsigned int m_silenceTimer = 0;
    unsigned int m_deviceRetryTimer = 0;
    QElapsedTimer m_silenceClock;
    uint64_t m_silenceFrames = 0;
    QElapsedTimer m_rateClock;

    QMap<QString, RelayEntry> m_relays;
    std::shared_ptr<GstFedPipeline> m_recorder;
    QString m_recordingPath;

    unsigned int m_statsTimer = 0;
    unsigned int m_pollTimer = 0;
    unsigned int m_captureTimer = 0;
    uint64_t m_captureFramesSeen = 0;
    QElapsedTimer m_captureProgress;
    // Of connections already ended: acknowledged FLV bytes and the AAC share of them.
    uint64_t m_doneAckedBytes = 0;
    uint64_t m_doneAckedAacBytes = 0;
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
