#pragma once

#include "rtc/sdk/GstAudioDevices.h"
#include "rtc/sdk/RtcTypes.h"

#include <QElapsedTimer>
#include <QList>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

typedef struct _GstBuffer GstBuffer;

namespace agora {
namespace rtc {

class PulseCapture;
class GstDeviceWatch;
class GstFedPipeline;
class IRtcEngineEventHandler;
class SdkEventLoop;

// The local audio: owns the capture of the chosen device while the channel or the device test
// wants it, opens it, switches it and notices when the device is lost (the sound server moved
// the stream, or it delivers nothing), sends silence meanwhile while in the channel and takes
// the device back when it returns. Applies volume and mute, times the device test's level
// reports, and hands every captured buffer to the feed targets (relays, debug recording).
// Reports onLocalAudioStateChanged, onFirstLocalAudioFrame, onAudioDeviceStateChanged, onError,
// the test's level and its SDK log lines through the hooks. SDK thread, except the buffers and
// the test's level while a capture runs (the capture's own thread).
class LocalAudioCapture
{
public:
    // A capture that delivers nothing for this long has lost its device (PulseAudio does not
    // always say so: the stream just stops).
    static constexpr qint64 kStallMs = 3000;
    // Before the first buffer: some sources (a sink monitor behind a high-latency player) take
    // a couple of seconds to deliver anything.
    static constexpr qint64 kFirstBufferMs = 6000;
    // A second is fine enough against kStallMs, and ticks with the look at the running relays.
    static constexpr unsigned int kCheckMs = 1000;
    // Joining waits this long for a capture it has to start to play (not when the device test
    // already runs one).
    static constexpr int kJoinWaitMs = 1000;
    // While the device is gone: silence goes out this often, and this often we look whether
    // the device is back (the device monitor usually says so sooner).
    static constexpr unsigned int kSilenceTickMs = 40;
    static constexpr unsigned int kDeviceRetryMs = 1000;

    using Notify = std::function<void(std::function<void(IRtcEngineEventHandler*)>)>;
    struct Hooks
    {
        Notify notify;
        std::function<void(const QString& line)> log;
        // The handler for the test's level, called at once on the capture's thread, or on the
        // SDK thread while there is no capture (may be null).
        std::function<IRtcEngineEventHandler*()> handler;
    };

    LocalAudioCapture(SdkEventLoop& loop, Hooks hooks);
    ~LocalAudioCapture();

    LocalAudioCapture(const LocalAudioCapture&) = delete;
    LocalAudioCapture& operator=(const LocalAudioCapture&) = delete;

    // Follows devices coming and going; false when there is no device monitor.
    bool watchDevices();
    QList<GstAudioDevices::Device> devices() const;
    bool knows(const QString& id) const;

    // The channel wants the capture: the test's running one goes on, else one starts. Its
    // first buffer is reported (onFirstLocalAudioFrame) with the time since this call.
    int join();
    // The channel is left: silence stops, the mute is lifted; the test keeps its capture.
    void leave();
    // A new device (empty: the default); a wanted capture is re-linked to it.
    int selectDevice(const QString& id);
    // The device test: its capture and its level every levelIntervalMs.
    int startTest(int levelIntervalMs);
    void stopTest();
    void setVolume(int volume);
    void setMuted(bool muted);
    // Ends everything (the engine goes): nothing runs or reports afterwards.
    void shutdown();

    bool isCapturing() const { return m_capture != nullptr; }
    bool isTesting() const { return m_deviceTest; }
    // True while the test reports the level (the capture, or without one a timer of its own).
    bool reportsLevelItself() const { return m_deviceTest && m_levelIntervalMs > 0; }
    // The captured peak since the last look, as the level of the local user (uid 0).
    AudioVolumeInfo takeLevel();
    // Where captured buffers (and the silence) go; any thread may read them.
    void setFeedTargets(std::vector<std::shared_ptr<GstFedPipeline>> targets);

    // A peak (0..32768) as the level the application sees (0..255, voice above 8).
    static AudioVolumeInfo levelOf(int peak);
    // Whether the wanted device is among the devices: the chosen one, or with none chosen the
    // lost one or whichever is the default now.
    static bool isBack(const QList<GstAudioDevices::Device>& devices, const QString& chosenId,
                       const QString& lostId);
    // How long a capture that has delivered frames (or none yet) may stay silent.
    static qint64 allowedSilenceMs(uint64_t frames) { return frames == 0 ? kFirstBufferMs : kStallMs; }
    // Silence frames due after elapsedMs of silence when sentFrames went out already, at most
    // one second's worth at a time.
    static uint64_t silenceFramesDue(qint64 elapsedMs, uint64_t sentFrames);

private:
    bool wanted() const { return m_joined || m_deviceTest; }
    int start(int waitPlayingMs);
    void stop();
    // Nothing wants the capture any more: it stops, and so does waiting for a lost device.
    void release();
    void clearLost();
    void updateLevelReports();
    void reportLevel(int peak);
    void onBuffer(GstBuffer* buffer);
    void onError(const QString& error);
    void feed(GstBuffer* buffer);
    void startSilence();
    void stopSilence();
    void pushSilence();
    void tryRestore();
    void onDeviceChange(const QString& id, bool present);
    void check();

    SdkEventLoop& m_loop;
    const Hooks m_hooks;

    QString m_deviceId; // chosen device; empty: the system default
    bool m_joined = false;
    QElapsedTimer m_joinClock;
    bool m_deviceTest = false;
    int m_levelIntervalMs = 0;
    unsigned int m_levelTimer = 0;
    int m_volume = 100;
    bool m_muted = false;

    std::unique_ptr<PulseCapture> m_capture;
    std::atomic<bool> m_firstFrameSeen{false};
    std::unique_ptr<GstDeviceWatch> m_deviceWatch;
    unsigned int m_checkTimer = 0;
    uint64_t m_framesSeen = 0;
    QElapsedTimer m_progress;
    // The device is gone while the capture is wanted; while joined, silence is sent instead.
    bool m_lost = false;
    QString m_lostDeviceId;
    unsigned int m_silenceTimer = 0;
    unsigned int m_deviceRetryTimer = 0;
    QElapsedTimer m_silenceClock;
    uint64_t m_silenceFrames = 0;

    std::mutex m_feedMutex;
    std::vector<std::shared_ptr<GstFedPipeline>> m_feedTargets;
};

} // namespace rtc
} // namespace agora
