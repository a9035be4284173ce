#include <glib.h>
#include <gst/gst.h>
#include <pulse/pulseaudio.h>

#include "rtc/sdk/PulseCapture.h"

#include "rtc/sdk/GstFedPipeline.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>

namespace agora {
namespace rtc {

namespace {
constexpr std::size_t kReadSamples = static_cast<std::size_t>(GstFedPipeline::kSampleRate) *
                                     GstFedPipeline::kChannels * PulseCapture::kReadUs / 1000000;

QString serverError(pa_context* context)
{
    return QString::fromUtf8(pa_strerror(pa_context_errno(context)));
}
} // namespace

PulseCapture::PulseCapture()
    : m_chunker(kReadSamples), m_levels(GstFedPipeline::kSampleRate, GstFedPipeline::kChannels)
{
}

PulseCapture::~PulseCapture()
{
    stop();
}

bool PulseCapture::start(const QString& deviceId, double volume, bool muted, int waitPlayingMs,
                         QString& error)
{
    stop();
    m_deviceId = deviceId;
    m_levels.reset();
    m_chunker.reset();
    m_lastArrivalUs = -1;
    m_deliveryPeriodUs = kReadUs;
    m_lastReportUs = -1;
    setVolume(volume);
    setMuted(muted);
    {
        std::lock_guard<std::mutex> lock(m_stateMutex);
        m_state = State::Connecting;
        m_failure.clear();
        m_reportFailure = false;
    }
    m_mainloop = pa_threaded_mainloop_new();
    m_context = m_mainloop ? pa_context_new(pa_threaded_mainloop_get_api(m_mainloop), "Tavio") : nullptr;
    if (!m_context) {
        error = QStringLiteral("cannot make a client of the sound server");
        stop();
        return false;
    }
    pa_context_set_state_callback(m_context, &PulseCapture::onContextState, this);
    m_running = true;
    if (pa_context_connect(m_context, nullptr, PA_CONTEXT_NOFLAGS, nullptr) < 0) {
        error = QStringLiteral("the sound server: %1").arg(serverError(m_context));
        stop();
        return false;
    }
    if (pa_threaded_mainloop_start(m_mainloop) < 0) {
        error = QStringLiteral("cannot start the sound server's client");
        stop();
        return false;
    }
    std::unique_lock<std::mutex> lock(m_stateMutex);
    m_stateChanged.wait_for(lock, std::chrono::milliseconds(waitPlayingMs),
                            [this] { return m_state != State::Connecting; });
    if (m_state == State::Failed) {
        error = m_failure;
        lock.unlock();
        stop();
        return false;
    }
    m_reportFailure = true;
    return true;
}

void PulseCapture::stop()
{
    m_running = false;
    if (!m_mainloop)
        return;
    pa_threaded_mainloop_lock(m_mainloop);
    cancelLevel();
    m_levelReport = nullptr;
    if (m_stream) {
        // Our own disconnect is not a failure: no more callbacks from here on.
        pa_stream_set_state_callback(m_stream, nullptr, nullptr);
        pa_stream_set_moved_callback(m_stream, nullptr, nullptr);
        pa_stream_set_read_callback(m_stream, nullptr, nullptr);
        pa_stream_disconnect(m_stream);
        pa_stream_unref(m_stream);
        m_stream = nullptr;
    }
    if (m_context) {
        pa_context_set_state_callback(m_context, nullptr, nullptr);
        pa_context_disconnect(m_context);
        pa_context_unref(m_context);
        m_context = nullptr;
    }
    pa_threaded_mainloop_unlock(m_mainloop);
    pa_threaded_mainloop_stop(m_mainloop);
    pa_threaded_mainloop_free(m_mainloop);
    m_mainloop = nullptr;
}

int PulseCapture::takePeak()
{
    return m_levels.take(g_get_monotonic_time());
}

void PulseCapture::setLevelReports(int intervalMs, std::function<void(int peak)> report)
{
    if (!m_mainloop)
        return;
    pa_threaded_mainloop_lock(m_mainloop);
    m_levelIntervalUs = static_cast<std::int64_t>(intervalMs) * 1000;
    m_levelReport = intervalMs > 0 ? std::move(report) : nullptr;
    m_lastReportUs = -1;
    if (m_levelReport && m_context)
        scheduleLevel(g_get_monotonic_time() + m_levelIntervalUs);
    else
        cancelLevel();
    pa_threaded_mainloop_unlock(m_mainloop);
}

std::int64_t PulseCapture::nextLevelReportUs(std::int64_t reportedUs, std::int64_t intervalUs,
                                             std::int64_t arrivalUs, std::int64_t periodUs)
{
    std::int64_t nextUs = reportedUs + intervalUs;
    if (arrivalUs < 0 || nextUs <= arrivalUs || periodUs <= 0)
        return nextUs;
    // The delivery expected nearest to the next report.
    const std::int64_t deliveries = (nextUs - arrivalUs + periodUs / 2) / periodUs;
    const std::int64_t expectedUs = arrivalUs + deliveries * periodUs;
    if (deliveries >= 1 && std::llabs(expectedUs - nextUs) <= kArrivalMarginUs)
        nextUs = expectedUs + kArrivalMarginUs;
    return nextUs;
}

void PulseCapture::reportLevel(std::int64_t nowUs)
{
    m_lastReportUs = nowUs;
    m_levelReport(m_levels.take(nowUs));
}

void PulseCapture::scheduleLevel(std::int64_t atUs)
{
    const std::int64_t delayUs = std::max<std::int64_t>(0, atUs - g_get_monotonic_time());
    const pa_usec_t when = pa_rtclock_now() + static_cast<pa_usec_t>(delayUs);
    if (m_levelTimer)
        pa_context_rttime_restart(m_context, m_levelTimer, when);
    else
        m_levelTimer = pa_context_rttime_new(m_context, when, &PulseCapture::onLevelTime, this);
}

void PulseCapture::scheduleNextLevel()
{
    scheduleLevel(nextLevelReportUs(m_lastReportUs, m_levelIntervalUs, m_lastArrivalUs, m_deliveryPeriodUs));
}

void PulseCapture::cancelLevel()
{
    if (m_levelTimer)
        pa_threaded_mainloop_get_api(m_mainloop)->time_free(m_levelTimer);
    m_levelTimer = nullptr;
}

void PulseCapture::onLevelTime(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* data)
{
    auto* self = static_cast<PulseCapture*>(data);
    if (!self->m_levelReport)
        return;
    const std::int64_t nowUs = g_get_monotonic_time();
    self->reportLevel(nowUs);
    self->scheduleNextLevel();
}

void PulseCapture::onContextState(pa_context* context, void* data)
{
    auto* self = static_cast<PulseCapture*>(data);
    switch (pa_context_get_state(context)) {
    case PA_CONTEXT_READY:
        self->openStream();
        break;
    case PA_CONTEXT_FAILED:
    case PA_CONTEXT_TERMINATED:
        self->fail(QStringLiteral("the sound server: %1").arg(serverError(context)));
        break;
    default:
        break;
    }
}

void PulseCapture::openStream()
{
    const pa_sample_spec format = {PA_SAMPLE_S16LE, static_cast<uint32_t>(GstFedPipeline::kSampleRate),
                                   static_cast<uint8_t>(GstFedPipeline::kChannels)};
    pa_channel_map map;
    pa_channel_map_init_stereo(&map);
    m_stream = pa_stream_new(m_context, "Tavio", &format, &map);
    if (!m_stream) {
        fail(QStringLiteral("the capture stream: %1").arg(serverError(m_context)));
        return;
    }
    pa_stream_set_state_callback(m_stream, &PulseCapture::onStreamState, this);
    pa_stream_set_moved_callback(m_stream, &PulseCapture::onStreamMoved, this);
    pa_stream_set_read_callback(m_stream, &PulseCapture::onRead, this);
    pa_buffer_attr attr;
    attr.maxlength = static_cast<uint32_t>(-1);
    attr.tlength = attr.prebuf = attr.minreq = static_cast<uint32_t>(-1);
    // The server hands over about one read at a time and sets the device's latency to match.
    attr.fragsize = static_cast<uint32_t>(kReadSamples * sizeof(std::int16_t));
    const QByteArray device = m_deviceId.toUtf8();
    if (pa_stream_connect_record(m_stream, m_deviceId.isEmpty() ? nullptr : device.constData(), &attr,
                                 PA_STREAM_ADJUST_LATENCY) < 0)
        fail(QStringLiteral("the capture stream: %1").arg(serverError(m_context)));
}

void PulseCapture::onStreamState(pa_stream* stream, void* data)
{
    auto* self = static_cast<PulseCapture*>(data);
    switch (pa_stream_get_state(stream)) {
    case PA_STREAM_READY: {
        std::lock_guard<std::mutex> lock(self->m_stateMutex);
        if (self->m_state == State::Connecting)
            self->m_state = State::Running;
        self->m_stateChanged.notify_all();
        break;
    }
    case PA_STREAM_FAILED:
    case PA_STREAM_TERMINATED:
        self->fail(QStringLiteral("the capture stream: %1").arg(serverError(pa_stream_get_context(stream))));
        break;
    default:
        break;
    }
}

void PulseCapture::onStreamMoved(pa_stream* stream, void* data)
{
    auto* self = static_cast<PulseCapture*>(data);
    const char* name = pa_stream_get_device_name(stream);
    const QString device = QString::fromUtf8(name ? name : "");
    // Never send another device's sound than the one chosen.
    if (!self->m_deviceId.isEmpty() && device != self->m_deviceId)
        self->fail(
            QStringLiteral("the device is gone (the sound server moved the capture to %1)").arg(device));
}

void PulseCapture::onRead(pa_stream* stream, size_t, void* data)
{
    auto* self = static_cast<PulseCapture*>(data);
    const auto deliver = [self](const std::int16_t* samples, std::size_t count) {
        self->deliver(samples, count);
    };
    bool delivered = false;
    while (pa_stream_readable_size(stream) > 0) {
        const void* bytes = nullptr;
        size_t length = 0;
        if (pa_stream_peek(stream, &bytes, &length) < 0) {
            self->fail(
                QStringLiteral("the capture stream: %1").arg(serverError(pa_stream_get_context(stream))));
            return;
        }
        if (length == 0)
            break; // nothing after all
        if (self->m_running.load())
            self->m_chunker.append(bytes, length, deliver); // bytes null: a hole, silence
        pa_stream_drop(stream);
        delivered = true;
    }
    if (delivered && self->m_running.load())
        self->onDelivery(g_get_monotonic_time());
}

void PulseCapture::onDelivery(std::int64_t nowUs)
{
    // The server hands over what it has whenever it runs: once a read, or more often while
    // another program records the same device with a shorter latency.
    if (m_lastArrivalUs >= 0)
        m_deliveryPeriodUs = std::clamp<std::int64_t>(nowUs - m_lastArrivalUs, kMinDeliveryPeriodUs, kReadUs);
    m_lastArrivalUs = nowUs;
    if (!m_levelReport)
        return;
    // A report that is due comes in this wake-up (after the relays have any read completed
    // here), the next at the interval or with the delivery expected then.
    if (m_lastReportUs < 0 || nowUs - m_lastReportUs >= m_levelIntervalUs - kArrivalMarginUs)
        reportLevel(nowUs);
    scheduleNextLevel();
}

void PulseCapture::deliver(const std::int16_t* samples, std::size_t count)
{
    m_frames += count / GstFedPipeline::kChannels;
    m_levels.add(samples, count, g_get_monotonic_time(), kReadUs);
    if (!onBuffer)
        return;
    GstBuffer* buffer = gst_buffer_new_memdup(samples, count * sizeof(std::int16_t));
    onBuffer(buffer);
    gst_buffer_unref(buffer);
}

void PulseCapture::fail(const QString& why)
{
    bool report = false;
    {
        std::lock_guard<std::mutex> lock(m_stateMutex);
        if (m_state == State::Failed)
            return;
        m_state = State::Failed;
        m_failure = why;
        report = m_reportFailure;
        m_stateChanged.notify_all();
    }
    m_running = false;
    if (report && onError)
        onError(why);
}

} // namespace rtc
} // namespace agora
