#include <gst/gst.h>

#include "rtc/sdk/LocalAudioCapture.h"

#include "rtc/sdk/GstDeviceWatch.h"
#include "rtc/sdk/GstFedPipeline.h"
#include "rtc/sdk/IRtcEngineEventHandler.h"
#include "rtc/sdk/PulseCapture.h"
#include "rtc/sdk/SdkEventLoop.h"

#include <cmath>

namespace agora {
namespace rtc {

LocalAudioCapture::LocalAudioCapture(SdkEventLoop& loop, Hooks hooks)
    : m_loop(loop), m_hooks(std::move(hooks))
{
}

LocalAudioCapture::~LocalAudioCapture() = default;

bool LocalAudioCapture::watchDevices()
{
    m_deviceWatch = std::make_unique<GstDeviceWatch>(m_loop);
    m_deviceWatch->onChange = [this](const QString& id, bool present) { onDeviceChange(id, present); };
    return m_deviceWatch->start();
}

QList<GstAudioDevices::Device> LocalAudioCapture::devices() const
{
    return GstAudioDevices::list(m_deviceWatch ? m_deviceWatch->monitor() : nullptr);
}

bool LocalAudioCapture::knows(const QString& id) const
{
    for (const GstAudioDevices::Device& device : devices()) {
        if (device.id == id)
            return true;
    }
    return false;
}

int LocalAudioCapture::join()
{
    m_joinClock.start();
    if (m_capture) {
        // The device test's capture goes on: no second open of the device, no wait.
        m_firstFrameSeen = false;
        m_hooks.log(QStringLiteral("joining with the running capture of %1").arg(m_capture->deviceId()));
    } else {
        const int captured = start(kJoinWaitMs);
        if (captured != kOk)
            return captured;
    }
    m_joined = true;
    return kOk;
}

void LocalAudioCapture::leave()
{
    m_joined = false;
    stopSilence();
    // The local mute belongs to the stay in the channel (the caller shows unmuted after
    // leaving): the device test hears the device again.
    m_muted = false;
    if (m_capture)
        m_capture->setMuted(false);
    // A running device test keeps the capture.
    if (!m_deviceTest)
        release();
}

int LocalAudioCapture::selectDevice(const QString& id)
{
    m_deviceId = id;
    if (!wanted())
        return kOk;
    // Re-link the capture; the channel and the relays stay.
    stop();
    return start(m_joined ? kJoinWaitMs : 0);
}

int LocalAudioCapture::startTest(int levelIntervalMs)
{
    const bool wasOn = m_deviceTest;
    m_deviceTest = true;
    if (m_levelIntervalMs != levelIntervalMs) {
        m_loop.removeTimer(m_levelTimer);
        m_levelTimer = 0;
        m_levelIntervalMs = levelIntervalMs;
    }
    updateLevelReports();
    if (!wasOn)
        m_hooks.log(QStringLiteral("recording device test on, level every %1 ms").arg(levelIntervalMs));
    if (m_capture || m_lost)
        return kOk;
    // Without a device the test stays on and starts when one is chosen.
    return start(0);
}

void LocalAudioCapture::stopTest()
{
    if (!m_deviceTest)
        return;
    m_deviceTest = false;
    updateLevelReports();
    if (!m_joined)
        release();
    m_hooks.log(QStringLiteral("recording device test off"));
}

void LocalAudioCapture::setVolume(int volume)
{
    m_volume = volume;
    if (m_capture)
        m_capture->setVolume(volume / 100.0);
}

void LocalAudioCapture::setMuted(bool muted)
{
    m_muted = muted;
    if (m_capture)
        m_capture->setMuted(muted);
}

void LocalAudioCapture::shutdown()
{
    m_joined = m_deviceTest = false;
    release();
    m_deviceWatch.reset();
}

int LocalAudioCapture::start(int waitPlayingMs)
{
    QString deviceId = m_deviceId;
    const QList<GstAudioDevices::Device> found = devices();
    bool present = false;
    for (const GstAudioDevices::Device& device : found)
        present = present || device.id == deviceId;
    if (found.isEmpty() || (!deviceId.isEmpty() && !present)) {
        const QString why = found.isEmpty() ? QStringLiteral("no recording device")
                                            : QStringLiteral("recording device \"%1\" is gone").arg(deviceId);
        m_hooks.log(QStringLiteral("capture does not start: %1").arg(why));
        m_hooks.notify([](IRtcEngineEventHandler* handler) {
            handler->onLocalAudioStateChanged(kLocalAudioFailed, kLocalAudioErrorNoDevice);
        });
        return kErrNoDevice;
    }
    if (deviceId.isEmpty())
        deviceId = found.first().id; // the default comes first

    auto capture = std::make_unique<PulseCapture>();
    capture->onBuffer = [this](GstBuffer* buffer) { onBuffer(buffer); };
    capture->onError = [this](const QString& error) { m_loop.post([this, error] { onError(error); }); };
    QString error;
    m_firstFrameSeen = false;
    if (!capture->start(deviceId, m_volume / 100.0, m_muted, waitPlayingMs, error)) {
        m_hooks.log(QStringLiteral("capture of %1 does not start: %2").arg(deviceId, error));
        m_hooks.notify([](IRtcEngineEventHandler* handler) {
            handler->onLocalAudioStateChanged(kLocalAudioFailed, kLocalAudioErrorRecordingFailure);
        });
        return kErrNoDevice;
    }
    m_capture = std::move(capture);
    updateLevelReports();
    if (m_lost) {
        clearLost();
        m_hooks.log(QStringLiteral("capture of %1 is back").arg(deviceId));
    }
    m_framesSeen = 0;
    m_progress.start();
    if (m_checkTimer == 0)
        m_checkTimer = m_loop.addTimer(kCheckMs, [this] { check(); });
    m_hooks.log(QStringLiteral("capturing %1 at volume %2%3")
                    .arg(deviceId)
                    .arg(m_volume)
                    .arg(m_muted ? ", muted" : ""));
    m_hooks.notify([](IRtcEngineEventHandler* handler) {
        handler->onLocalAudioStateChanged(kLocalAudioRecording, kLocalAudioErrorOk);
    });
    return kOk;
}

void LocalAudioCapture::check()
{
    // A move to another device is the capture's own failure, told by the sound server at once.
    if (!m_capture)
        return;
    const uint64_t frames = m_capture->capturedFrames();
    if (frames != m_framesSeen) {
        m_framesSeen = frames;
        m_progress.restart();
        return;
    }
    if (m_progress.elapsed() >= allowedSilenceMs(frames))
        onError(QStringLiteral("no audio from the device for %1 ms").arg(m_progress.elapsed()));
}

void LocalAudioCapture::stop()
{
    m_loop.removeTimer(m_checkTimer);
    m_checkTimer = 0;
    if (!m_capture)
        return;
    m_capture->stop();
    m_capture.reset();
    updateLevelReports();
    m_hooks.notify([](IRtcEngineEventHandler* handler) {
        handler->onLocalAudioStateChanged(kLocalAudioStopped, kLocalAudioErrorOk);
    });
}

void LocalAudioCapture::release()
{
    stop();
    clearLost();
    updateLevelReports();
}

void LocalAudioCapture::clearLost()
{
    m_lost = false;
    stopSilence();
    m_loop.removeTimer(m_deviceRetryTimer);
    m_deviceRetryTimer = 0;
}

void LocalAudioCapture::updateLevelReports()
{
    const bool levelWanted = m_deviceTest && m_levelIntervalMs > 0;
    // A capture reports in step with its reads, in the wake-ups its reads cost anyway; without
    // one the level is 0, from a timer here.
    if (m_capture) {
        if (levelWanted)
            m_capture->setLevelReports(m_levelIntervalMs, [this](int peak) { reportLevel(peak); });
        else
            m_capture->setLevelReports(0, nullptr);
    }
    const bool timerWanted = levelWanted && !m_capture;
    if (timerWanted && m_levelTimer == 0) {
        m_levelTimer =
            m_loop.addTimer(static_cast<unsigned int>(m_levelIntervalMs), [this] { reportLevel(0); });
    } else if (!timerWanted && m_levelTimer != 0) {
        m_loop.removeTimer(m_levelTimer);
        m_levelTimer = 0;
    }
}

AudioVolumeInfo LocalAudioCapture::levelOf(int peak)
{
    AudioVolumeInfo speaker;
    speaker.uid = 0; // the local user
    speaker.volume = static_cast<unsigned int>(std::lround(peak * 255.0 / 32768.0));
    speaker.vad = speaker.volume >= 8 ? 1 : 0;
    return speaker;
}

AudioVolumeInfo LocalAudioCapture::takeLevel()
{
    return levelOf(m_capture ? m_capture->takePeak() : 0);
}

void LocalAudioCapture::reportLevel(int peak)
{
    const AudioVolumeInfo speaker = levelOf(peak);
    // Outside any call into the engine (the capture's thread, or the loop's own timer): the
    // handler may run here at once, which spares a pass through the loop twenty times a second.
    if (IRtcEngineEventHandler* handler = m_hooks.handler())
        handler->onAudioVolumeIndication(&speaker, 1, static_cast<int>(speaker.volume));
}

void LocalAudioCapture::onBuffer(GstBuffer* buffer)
{
    // The capture's thread: hand the buffer on, nothing else.
    if (!m_firstFrameSeen.exchange(true)) {
        m_hooks.notify([this](IRtcEngineEventHandler* handler) {
            if (m_joined) // not for the device test alone
                handler->onFirstLocalAudioFrame(static_cast<int>(m_joinClock.elapsed()));
        });
    }
    feed(buffer);
}

void LocalAudioCapture::setFeedTargets(std::vector<std::shared_ptr<GstFedPipeline>> targets)
{
    std::lock_guard<std::mutex> lock(m_feedMutex);
    m_feedTargets.swap(targets);
}

void LocalAudioCapture::feed(GstBuffer* buffer)
{
    std::vector<std::shared_ptr<GstFedPipeline>> targets;
    {
        std::lock_guard<std::mutex> lock(m_feedMutex);
        targets = m_feedTargets;
    }
    for (const auto& target : targets)
        target->push(buffer);
}

void LocalAudioCapture::startSilence()
{
    m_silenceFrames = 0;
    m_silenceClock.start();
    if (m_silenceTimer == 0)
        m_silenceTimer = m_loop.addTimer(kSilenceTickMs, [this] { pushSilence(); });
}

void LocalAudioCapture::stopSilence()
{
    m_loop.removeTimer(m_silenceTimer);
    m_silenceTimer = 0;
}

uint64_t LocalAudioCapture::silenceFramesDue(qint64 elapsedMs, uint64_t sentFrames)
{
    // As many frames as real time asks for, so the stream's clock keeps pace with the wall.
    const uint64_t due = static_cast<uint64_t>(elapsedMs) * GstFedPipeline::kSampleRate / 1000;
    return due <= sentFrames ? 0 : qMin<uint64_t>(due - sentFrames, GstFedPipeline::kSampleRate);
}

void LocalAudioCapture::pushSilence()
{
    const qint64 elapsedMs = m_silenceClock.elapsed();
    const uint64_t frames = silenceFramesDue(elapsedMs, m_silenceFrames);
    if (frames == 0)
        return;
    m_silenceFrames = static_cast<uint64_t>(elapsedMs) * GstFedPipeline::kSampleRate / 1000;
    const gsize size = static_cast<gsize>(frames * GstFedPipeline::kBytesPerFrame);
    GstBuffer* buffer = gst_buffer_new_allocate(nullptr, size, nullptr);
    gst_buffer_memset(buffer, 0, 0, size);
    feed(buffer);
    gst_buffer_unref(buffer);
}

bool LocalAudioCapture::isBack(const QList<GstAudioDevices::Device>& devices, const QString& chosenId,
                               const QString& lostId)
{
    const QString wantedId = chosenId.isEmpty() ? lostId : chosenId;
    for (const GstAudioDevices::Device& device : devices) {
        if (device.id == wantedId || (chosenId.isEmpty() && device.isDefault))
            return true;
    }
    return false;
}

void LocalAudioCapture::tryRestore()
{
    if (!wanted() || !m_lost || m_capture)
        return;
    if (isBack(devices(), m_deviceId, m_lostDeviceId))
        start(0); // a failure comes back through onError
}

void LocalAudioCapture::onDeviceChange(const QString& id, bool present)
{
    m_hooks.log(QStringLiteral("recording device %1 %2")
                    .arg(id, present ? QStringLiteral("appeared") : QStringLiteral("went")));
    const QByteArray idBytes = id.toUtf8();
    m_hooks.notify([idBytes, present](IRtcEngineEventHandler* handler) {
        handler->onAudioDeviceStateChanged(idBytes.constData(), kAudioRecordingDevice,
                                           present ? kDeviceStateActive : kDeviceStateUnplugged);
    });
    if (present)
        tryRestore();
}

void LocalAudioCapture::onError(const QString& error)
{
    if (!m_capture)
        return;
    const QString deviceId = m_capture->deviceId();
    m_hooks.log(QStringLiteral("capture of %1 failed: %2").arg(deviceId, error));
    m_loop.removeTimer(m_checkTimer);
    m_checkTimer = 0;
    m_capture->stop();
    m_capture.reset();
    m_hooks.notify([](IRtcEngineEventHandler* handler) {
        handler->onLocalAudioStateChanged(kLocalAudioFailed, kLocalAudioErrorRecordingFailure);
        handler->onError(kSdkErrorAudioCaptureFailed, "audio capture failed");
    });
    if (!wanted())
        return;
    // Wait for the device to come back; the push goes on with silence meanwhile.
    m_lostDeviceId = deviceId;
    m_lost = true;
    if (m_deviceRetryTimer == 0)
        m_deviceRetryTimer = m_loop.addTimer(kDeviceRetryMs, [this] { tryRestore(); });
    if (m_joined) {
        startSilence();
        m_hooks.log(QStringLiteral("sending silence until %1 is back").arg(deviceId));
    }
}

} // namespace rtc
} // namespace agora
