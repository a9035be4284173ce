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

namespace agora {
namespace rtc {

// Capture of one PulseAudio source as S16LE 48 kHz stereo (the sound server converts), with
// live volume and mute (mute is digital silence: the data keeps flowing). It talks to the
// sound server itself: what the server hands over is gathered into 100 ms reads on the client
// library's own thread, so a read costs that one thread's wake-ups and no others.
class PulseCapture
{
public:
    // One read: few wake-ups (the level still comes twenty times a second: LevelTimeline).
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

    // The captured level (highest absolute sample, 0..32768) due now: see LevelTimeline. One
    // reader only.
    int takePeak();
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
    void openStream();
    void deliver(const std::int16_t* samples, std::size_t count);
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

    std::mutex m_stateMutex;
    std::condition_variable m_stateChanged;
    State m_state = State::Connecting;
    QString m_failure;
    bool m_reportFailure = false; // start() has returned true
};

} // namespace rtc
} // namespace agora
