#pragma once

#include "rtc/sdk/CaptureChunker.h"
#include "rtc/sdk/LevelTimeline.h"

#include <QString>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

typedef struct _GstBuffer GstBuffer;
struct pa_threaded_mainloop;
struct pa_context;
struct pa_stream;
struct pa_mainloop_api;
struct pa_time_event;
struct timeval;

namespace agora {
namespace rtc {

// Capture of one PulseAudio source as S16LE 48 kHz stereo (the sound server converts), with
// live volume and mute (mute is digital silence: the data keeps flowing). It talks to the
// sound server itself: what the server hands over is gathered into 100 ms reads on the client
// library's own thread, so a read costs that one thread's wake-ups and no others.
class PulseCapture
{
public:
    // One read: few wake-ups (the level still comes twenty times a second: setLevelReports).
    static constexpr int kReadUs = 100000;

    PulseCapture();
    ~PulseCapture();
    PulseCapture(const PulseCapture&) = delete;
    PulseCapture& operator=(const PulseCapture&) = delete;

    // Each read, on the capture's thread (do not block, do not stop the capture from here).
    std::function<void(GstBuffer* buffer)> onBuffer;
    // A failure after a successful start (device gone or moved away, server gone), on the
    // capture's thread, once.
    std::function<void(const QString& error)> onError;

    // An empty device id captures the sound server's default source. Waits up to waitPlayingMs
    // for the capture to run, so that a device that cannot be opened is a false result rather
    // than a later onError; with 0 it returns at once.
    bool start(const QString& deviceId, double volume, bool muted, int waitPlayingMs, QString& error);
    void stop();
    bool isRunning() const { return m_running.load(); }
    QString deviceId() const { return m_deviceId; }
    void setVolume(double volume) { m_chunker.setVolume(volume); }
    void setMuted(bool muted) { m_chunker.setMuted(muted); }

    // The captured level (highest absolute sample, 0..32768, see LevelTimeline) every
    // intervalMs, on the capture's thread and in step with the server's deliveries: one as a
    // read arrives, the next ones at the interval after it or with a delivery that comes then,
    // and at the interval alone once deliveries stop. So the reports cost this thread's wake-ups
    // for the deliveries and at most a few more (none while the server delivers every 50 ms or
    // more often), and no other thread's.
    // 0 or no function: none. After it returns, a report from before is no longer running.
    void setLevelReports(int intervalMs, std::function<void(int peak)> report);
    // The level due now, for a reader of its own while there are no level reports.
    int takePeak();
    // When the level report after one at reportedUs is due, the server's last delivery having
    // arrived at arrivalUs (negative: none yet) and deliveries coming every periodUs: at the
    // interval, unless a delivery is expected about then, which brings the report itself; the
    // timer then waits a little past it.
    static std::int64_t nextLevelReportUs(std::int64_t reportedUs, std::int64_t intervalUs, std::int64_t arrivalUs,
                                          std::int64_t periodUs);
    // How far a delivery may arrive from when it is expected and still bring a report itself.
    static constexpr std::int64_t kArrivalMarginUs = 15000;
    // Deliveries closer together than this (a burst) do not tell the server's pace.
    static constexpr std::int64_t kMinDeliveryPeriodUs = 10000;
    uint64_t capturedFrames() const { return m_frames.load(); }
    uint64_t capturedBytes() const { return m_frames.load() * 4; }

private:
    enum class State
    {
        Connecting,
        Running,
        Failed
    };

    static void onContextState(pa_context* context, void* self);
    static void onStreamState(pa_stream* stream, void* self);
    static void onStreamMoved(pa_stream* stream, void* self);
    static void onRead(pa_stream* stream, size_t bytes, void* self);
    static void onLevelTime(pa_mainloop_api* api, pa_time_event* event, const struct timeval* tv, void* self);
    // The capture's thread (or with the client library locked).
    void reportLevel(std::int64_t nowUs);
    void scheduleLevel(std::int64_t atUs);
    // The report after the last one (nextLevelReportUs).
    void scheduleNextLevel();
    void cancelLevel();
    void openStream();
    void deliver(const std::int16_t* samples, std::size_t count);
    // After each delivery from the server, what it held passed on: the level's report.
    void onDelivery(std::int64_t nowUs);
    // On the capture's thread: the first failure wins; reported through onError once start()
    // has returned.
    void fail(const QString& why);

    QString m_deviceId;
    pa_threaded_mainloop* m_mainloop = nullptr;
    pa_context* m_context = nullptr;
    pa_stream* m_stream = nullptr;
    std::atomic<bool> m_running{false};
    CaptureChunker m_chunker;
    LevelTimeline m_levels;
    std::atomic<uint64_t> m_frames{0};
    std::function<void(int peak)> m_levelReport;
    std::int64_t m_levelIntervalUs = 0;
    pa_time_event* m_levelTimer = nullptr;
    std::int64_t m_lastArrivalUs = -1; // the server's last delivery
    std::int64_t m_deliveryPeriodUs = kReadUs;
    std::int64_t m_lastReportUs = -1;

    std::mutex m_stateMutex;
    std::condition_variable m_stateChanged;
    State m_state = State::Connecting;
    QString m_failure;
    bool m_reportFailure = false; // start() has returned true
};

} // namespace rtc
} // namespace agora
