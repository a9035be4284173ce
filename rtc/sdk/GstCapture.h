#pragma once

#include "rtc/sdk/GstPipeline.h"
#include "rtc/sdk/LevelTimeline.h"

#include <cstdint>

typedef struct _GstBuffer GstBuffer;

namespace agora {
namespace rtc {

// Capture of one PulseAudio source, converted to S16LE 48 kHz stereo, with live volume and
// mute (mute is digital silence: the data keeps flowing).
class GstCapture
{
public:
    explicit GstCapture(SdkEventLoop& loop);
    ~GstCapture();

    GstCapture(const GstCapture&) = delete;
    GstCapture& operator=(const GstCapture&) = delete;

    // Each captured buffer, on GStreamer's streaming thread (do not block, do not stop the capture
    // from here).
    std::function<void(GstBuffer* buffer)> onBuffer;
    // A failure after a successful start (device gone, server gone), on the SDK thread, once.
    std::function<void(const QString& error)> onError;

    // An empty device id captures the sound server's default source. On the SDK thread. Waits
    // up to waitPlayingMs for the capture to play, so that a device that cannot be opened is a
    // false result rather than a later onError; with 0 it returns at once.
    bool start(const QString& deviceId, double volume, bool muted, int waitPlayingMs, QString& error);
    void stop();
    bool isRunning() const { return m_running.load(); }
    QString deviceId() const { return m_deviceId; }
    // The source the sound server actually connects us to; it differs from deviceId() once the
    // device has gone and the server has moved the stream elsewhere. Empty when unknown.
    QString currentDevice() const;

    void setVolume(double volume);
    void setMuted(bool muted);

    // The captured level (highest absolute sample, 0..32768) due now: see LevelTimeline. One
    // reader only.
    int takePeak();
    uint64_t capturedFrames() const { return m_frames.load(); }
    uint64_t capturedBytes() const { return m_frames.load() * 4; }

private:
    static int onNewSample(GstElement* sink, void* self);

    GstPipeline m_pipeline;
    GstElement* m_volume = nullptr;
    GstElement* m_source = nullptr;
    QString m_deviceId;
    std::atomic<bool> m_running{false};
    LevelTimeline m_levels;
    std::atomic<uint64_t> m_frames{0};
};

} // namespace rtc
} // namespace agora
