#pragma once

#include "rtc/sdk/GstPipeline.h"

#include <cstdint>
#include <mutex>

typedef struct _GstBuffer GstBuffer;

namespace agora {
namespace rtc {

// A pipeline fed with captured PCM (S16LE, 48 kHz, stereo) through an appsrc named "src".
// Each pipeline stamps the buffers with its own running sample count, so a device switch or a
// late start never makes its timeline jump. Start and stop run on the SDK thread.
class GstFedPipeline
{
public:
    static constexpr int kSampleRate = 48000;
    static constexpr int kChannels = 2;
    static constexpr int kBytesPerFrame = kChannels * 2;

    explicit GstFedPipeline(SdkEventLoop& loop);
    virtual ~GstFedPipeline();

    GstFedPipeline(const GstFedPipeline&) = delete;
    GstFedPipeline& operator=(const GstFedPipeline&) = delete;

    // Error reported by the pipeline's bus (on the SDK thread, at most once).
    std::function<void(const QString& error)> onError;

    // Builds the description (its first element must be "appsrc name=src") and sets it playing.
    bool start(const QString& description, QString& error);
    // Any thread. Copies the buffer's reference; does nothing when stopped or failed.
    void push(GstBuffer* buffer);
    // Ends the stream (waiting up to eosWaitMs for it to drain) and stops the pipeline.
    void stop(int eosWaitMs);
    bool isRunning() const { return m_running.load(); }
    bool hasFailed() const { return m_pipeline.hasFailed(); }
    uint64_t pushedFrames() const { return m_frames.load(); }

protected:
    // Called after the description is built, before it plays: find elements, set properties.
    virtual bool configure(GstElement* pipeline, QString& error);

private:
    GstPipeline m_pipeline;
    GstElement* m_src = nullptr;
    std::mutex m_pushMutex;
    std::atomic<bool> m_running{false};
    std::atomic<uint64_t> m_frames{0};
};

} // namespace rtc
} // namespace agora
