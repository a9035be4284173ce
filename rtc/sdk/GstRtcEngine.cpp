#include <gst/gst.h>

#include "rtc/sdk/GstRtcEngine.h"

#include "base/VClock.h"
#include "rtc/sdk/DeviceListCollection.h"
#include "rtc/sdk/GstAudioDevices.h"
#include "rtc/sdk/GstCapture.h"
#include "rtc/sdk/GstDeviceWatch.h"
#include "rtc/sdk/GstPcmRecorder.h"
#include "rtc/sdk/GstRelay.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QThread>

#include <sys/resource.h>

#include <cmath>

namespace agora {
namespace rtc {

namespace {

bool ensureGstreamer()
{
    static const bool ready = gst_init_check(nullptr, nullptr, nullptr);
    return ready;
}

class GstEngineParameter : public IRtcEngineParameter
{
public:
    explicit GstEngineParameter(GstRtcEngine* engine) : m_engine(engine) {}
    int setParameters(const char* parameters) override { return m_engine->setParameters(parameters); }
    void release() override { delete this; }

private:
    GstRtcEngine* m_engine = nullptr;
};

class GstAudioDeviceManager : public IAudioDeviceManager
{
public:
    explicit GstAudioDeviceManager(GstRtcEngine* engine) : m_engine(engine) {}
    IAudioDeviceCollection* enumerateRecordingDevices() override
    {
        return new DeviceListCollection(m_engine->recordingDeviceList());
    }
    int setRecordingDevice(const char* deviceId) override { return m_engine->setRecordingDevice(deviceId); }
    int startRecordingDeviceTest(int indicationIntervalMs) override
    {
        return m_engine->startRecordingDeviceTest(indicationIntervalMs);
    }
    int stopRecordingDeviceTest() override { return m_engine->stopRecordingDeviceTest(); }
    void release() override { delete this; }

private:
    GstRtcEngine* m_engine = nullptr;
};

long processCpuMicroseconds()
{
    struct rusage usage = {};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000000L + usage.ru_utime.tv_usec +
           usage.ru_stime.tv_usec;
}

// Total and idle jiffies of the whole machine.
bool machineCpu(unsigned long long& total, unsigned long long& idle)
{
    QFile file(QStringLiteral("/proc/stat"));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QList<QByteArray> fields = file.readLine().simplified().split(' ');
    if (fields.size() < 5 || fields.first() != "cpu")
        return false;
    total = 0;
    for (int i = 1; i < fields.size(); ++i)
        total += fields.at(i).toULongLong();
    idle = fields.at(4).toULongLong() + (fields.size() > 5 ? fields.at(5).toULongLong() : 0);
    return true;
}

// Keeps a debug recording's file name harmless: letters, digits, '-' and '_' only.
QString safeRecordingName(const QString& name)
{
    QString safe = name;
    safe.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9_-]")), QStringLiteral("_"));
    return safe.isEmpty() ? QStringLiteral("NoName") : safe.left(64);
}

} // namespace

GstRtcEngine::GstRtcEngine() = default;

GstRtcEngine::~GstRtcEngine()
{
    m_loop.runSync([this] {
        const QStringList urls = m_relays.keys();
        for (const QString& url : urls)
            stopRelay(url, false);
        m_joined = m_deviceTest = false;
        releaseCapture();
        stopDebugRecording();
        m_deviceWatch.reset();
        m_loop.removeTimer(m_statsTimer);
        m_loop.removeTimer(m_pollTimer);
        m_statsTimer = m_pollTimer = 0;
        m_handler = nullptr;
    });
    // Joins the SDK thread and drops callbacks not delivered yet.
    m_loop.stop();
    m_log.write(QStringLiteral("engine released"));
}

int GstRtcEngine::call(const std::function<int()>& body)
{
    int result = kErrFailed;
    m_loop.runSync([&result, &body] { result = body(); });
    return result;
}

void GstRtcEngine::log(const QString& line)
{
    m_log.write(line);
}

void GstRtcEngine::notify(std::function<void(IRtcEngineEventHandler*)> callback)
{
    m_loop.post([this, callback = std::move(callback)] {
        if (m_handler)
            callback(m_handler);
    });
}

int GstRtcEngine::callInitialized(const char* operation, const std::function<int()>& body)
{
    return call([this, operation, &body] {
        if (m_initialized)
            return body();
        log(QStringLiteral("%1 refused: the engine is not initialised").arg(QLatin1String(operation)));
        return static_cast<int>(kErrNotInitialized);
    });
}

int GstRtcEngine::initialize(const RtcEngineContext& context)
{
    return call([this, &context] {
        const QString appId = QString::fromUtf8(context.appId ? context.appId : "");
        if (appId.isEmpty() || !context.eventHandler) {
            log(QStringLiteral("initialize refused: no App ID or no event handler"));
            return static_cast<int>(kErrInvalidArgument);
        }
        if (!ensureGstreamer()) {
            log(QStringLiteral("initialize failed: GStreamer is not available"));
            return static_cast<int>(kErrFailed);
        }
        if (context.logConfig.filePath && *context.logConfig.filePath)
            m_log.setFile(QString::fromUtf8(context.logConfig.filePath));
        m_appId = appId;
        m_handler = context.eventHandler;
        m_initialized = true;
        m_deviceWatch = std::make_unique<GstDeviceWatch>(m_loop);
        m_deviceWatch->onChange = [this](const QString& id, bool present) { onDeviceChange(id, present); };
        if (!m_deviceWatch->start())
            log(QStringLiteral("device changes cannot be followed (no device monitor)"));
        gchar* version = gst_version_string();
        log(QStringLiteral("initialize: area code %1, %2, encoder %3")
                .arg(context.areaCode)
                .arg(QString::fromUtf8(version))
                .arg(GstRelay::encoderName()));
        g_free(version);
        return static_cast<int>(kOk);
    });
}

int GstRtcEngine::setLogFile(const char* filePath)
{
    const QString path = QString::fromUtf8(filePath ? filePath : "");
    if (path.isEmpty())
        return kErrInvalidArgument;
    if (!m_log.setFile(path))
        return kErrFailed;
    log(QStringLiteral("log file %1").arg(QFileInfo(path).absoluteFilePath()));
    return kOk;
}

int GstRtcEngine::disableVideo()
{
    // There is no video in this SDK: always off.
    return callInitialized("disableVideo", [] { return static_cast<int>(kOk); });
}

int GstRtcEngine::enableAudio()
{
    return callInitialized("enableAudio", [] { return static_cast<int>(kOk); });
}

int GstRtcEngine::setChannelProfile(int profile)
{
    return callInitialized("setChannelProfile", [this, profile] {
        if (profile != kChannelProfileCommunication && profile != kChannelProfileLiveBroadcasting)
            return static_cast<int>(kErrInvalidArgument);
        m_channelProfile = profile;
        return static_cast<int>(kOk);
    });
}

int GstRtcEngine::setClientRole(int role)
{
    return callInitialized("setClientRole", [this, role] {
        if (role != kClientRoleBroadcaster && role != kClientRoleAudience)
            return static_cast<int>(kErrInvalidArgument);
        const int old = m_clientRole;
        m_clientRole = role;
        if (m_joined && old != role)
            notify([old, role](IRtcEngineEventHandler* handler) { handler->onClientRoleChanged(old, role); });
        return static_cast<int>(kOk);
    });
}

int GstRtcEngine::setAudioProfile(int profile, int scenario)
{
    return callInitialized("setAudioProfile", [this, profile, scenario] {
        if (profile < 0 || profile > 5 || scenario < 0 || scenario > 5)
            return static_cast<int>(kErrInvalidArgument);
        m_audioProfile = profile;
        m_audioScenario = scenario;
        log(QStringLiteral("audio profile %1, scenario %2: AAC-LC %3 kbit/s, 48 kHz stereo")
                .arg(profile)
                .arg(scenario)
                .arg(GstRelay::kBitrate / 1000));
        return static_cast<int>(kOk);
    });
}

IRtcEngineParameter* GstRtcEngine::createParameter()
{
    return new GstEngineParameter(this);
}

IAudioDeviceManager* GstRtcEngine::createDeviceManager()
{
    return new GstAudioDeviceManager(this);
}

int GstRtcEngine::muteAllRemoteAudioStreams(bool mute)
{
    // Nothing of the room is ever played here; accepted for either value.
    return callInitialized("muteAllRemoteAudioStreams", [this, mute] {
        log(QStringLiteral("remote audio %1")
                .arg(mute ? QStringLiteral("muted") : QStringLiteral("not played")));
        return static_cast<int>(kOk);
    });
}

int GstRtcEngine::muteLocalAudioStream(bool mute)
{
    return callInitialized("muteLocalAudioStream", [this, mute] {
        m_muted = mute;
        if (m_capture)
            m_capture->setMuted(mute);
        log(QStringLiteral("local audio %1").arg(mute ? QStringLiteral("muted") : QStringLiteral("unmuted")));
        return static_cast<int>(kOk);
    });
}

int GstRtcEngine::enableWebSdkInteroperability(bool enabled)
{
    return callInitialized("enableWebSdkInteroperability", [this, enabled] {
        log(QStringLiteral("web interoperability %1")
                .arg(enabled ? QStringLiteral("on") : QStringLiteral("off")));
        return static_cast<int>(kOk);
    });
}

int GstRtcEngine::joinChannel(const char* token, const char* channelId, const char* info, unsigned int uid)
{
    (void)token;
    (void)info;
    const QString channel = QString::fromUtf8(channelId ? channelId : "");
    return callInitialized("joinChannel", [this, channel, uid] {
        if (channel.isEmpty()) {
            log(QStringLiteral("joinChannel refused: empty channel name"));
            return static_cast<int>(kErrInvalidArgument);
        }
        if (m_joined) {
            log(QStringLiteral("joinChannel refused: already in channel %1").arg(m_channel));
            return static_cast<int>(kErrRefused);
        }
        m_joinClock.start();
        if (m_capture) {
            // The device test's capture goes on: no second open of the device, no wait.
            m_firstFrameSeen = false;
            log(QStringLiteral("joining with the running capture of %1").arg(m_capture->deviceId()));
        } else {
            const int captured = startCapture(kCaptureStartWaitMs);
            if (captured != kOk)
                return captured;
        }
        m_joined = true;
        m_channel = channel;
        m_uid = uid;
        m_doneAckedBytes = m_doneAckedAacBytes = 0;
        m_rateClock.start();
        m_lastCaptureFrames = 0;
        m_lastCpuAppUs = processCpuMicroseconds();
        machineCpu(m_lastCpuTotal, m_lastCpuIdle);
        m_cpuTotalUsage = 0.0;
        m_statsClock.start();
        m_statsTimer = m_loop.addTimer(kStatsIntervalMs, [this] { reportStatistics(); });
        log(QStringLiteral("joined channel %1 as %2").arg(channel).arg(uid));
        const QByteArray channelBytes = channel.toUtf8();
        const int elapsedMs = static_cast<int>(m_joinClock.elapsed());
        notify([channelBytes, uid, elapsedMs](IRtcEngineEventHandler* handler) {
            handler->onJoinChannelSuccess(channelBytes.constData(), uid, elapsedMs);
        });
        return static_cast<int>(kOk);
    });
}

int GstRtcEngine::leaveChannel()
{
    return callInitialized("leaveChannel", [this] {
        if (!m_joined)
            return static_cast<int>(kOk);
        const QStringList urls = m_relays.keys();
        for (const QString& url : urls)
            stopRelay(url, true);
        const RtcStats stats =
            currentStats(static_cast<unsigned int>(qMax<qint64>(1, m_statsClock.elapsed())));
        m_loop.removeTimer(m_statsTimer);
        m_loop.removeTimer(m_pollTimer);
        m_statsTimer = m_pollTimer = 0;
        m_joined = false;
        stopSilence();
        // The local mute belongs to the stay in the channel (the caller shows unmuted after
        // leaving): the device test hears the device again.
        m_muted = false;
        if (m_capture)
            m_capture->setMuted(false);
        // A running device test keeps the capture.
        if (!m_deviceTest)
            releaseCapture();
        log(QStringLiteral("left channel %1 after %2 s, %3 bytes acknowledged by the server")
                .arg(m_channel)
                .arg(stats.duration)
                .arg(stats.txBytes));
        notify([stats](IRtcEngineEventHandler* handler) { handler->onLeaveChannel(stats); });
        return static_cast<int>(kOk);
    });
}

int GstRtcEngine::addPublishStreamUrl(const char* url, bool transcodingEnabled)
{
    const QString address = QString::fromUtf8(url ? url : "");
    return callInitialized("addPublishStreamUrl", [this, address, transcodingEnabled] {
        if (!GstRelay::isValidUrl(address)) {
            log(QStringLiteral("addPublishStreamUrl refused: not an RTMP address: \"%1\"").arg(address));
            return static_cast<int>(kErrInvalidArgument);
        }
        if (transcodingEnabled) {
            log(QStringLiteral("addPublishStreamUrl refused: transcoding is not offered"));
            return static_cast<int>(kErrNotSupported);
        }
        if (!m_joined) {
            log(QStringLiteral("addPublishStreamUrl refused: not in a channel"));
            return static_cast<int>(kErrNotReady);
        }
        auto existing = m_relays.find(address);
        if (existing != m_relays.end()) {
            if (existing->state != RelayState::Waiting) {
                log(QStringLiteral("addPublishStreamUrl refused: already publishing to %1").arg(address));
                return static_cast<int>(kErrRefused);
            }
            // A relay waiting for its next attempt starts over at once.
            stopRelay(address, false);
        }

        std::shared_ptr<GstRelay> relay = makeRelay(address);
        QString error;
        if (!relay->start(error)) {
            log(QStringLiteral("relay to %1 does not start: %2").arg(address, error));
            const QByteArray bytes = address.toUtf8();
            notify([bytes](IRtcEngineEventHandler* handler) {
                handler->onRtmpStreamingStateChanged(bytes.constData(), kRtmpStateFailure,
                                                     kRtmpErrorInternal);
            });
            return static_cast<int>(kErrFailed);
        }
        RelayEntry entry;
        entry.relay = relay;
        entry.lastAckMs = VClock::monotonicMs();
        m_relays.insert(address, entry);
        updateFeedTargets();
        if (m_pollTimer == 0)
            m_pollTimer = m_loop.addTimer(kRelayPollMs, [this] { pollRelays(); });
        log(QStringLiteral("relay to %1 connecting (%2, %3 kbit/s)")
                .arg(address, GstRelay::encoderName())
                .arg(GstRelay::kBitrate / 1000));
        const QByteArray bytes = address.toUtf8();
        notify([bytes](IRtcEngineEventHandler* handler) {
            handler->onRtmpStreamingStateChanged(bytes.constData(), kRtmpStateConnecting, kRtmpErrorOk);
        });
        return static_cast<int>(kOk);
    });
}

int GstRtcEngine::removePublishStreamUrl(const char* url)
{
    const QString address = QString::fromUtf8(url ? url : "");
    return callInitialized("removePublishStreamUrl", [this, address] {
        if (address.isEmpty())
            return static_cast<int>(kErrInvalidArgument);
        if (!m_relays.contains(address)) {
            log(QStringLiteral("removePublishStreamUrl: not publishing to \"%1\"").arg(address));
            return static_cast<int>(kErrRefused);
        }
        stopRelay(address, true);
        return static_cast<int>(kOk);
    });
}

int GstRtcEngine::adjustRecordingSignalVolume(int volume)
{
    return callInitialized("adjustRecordingSignalVolume", [this, volume] {
        if (!isValidVolume(volume)) {
            log(QStringLiteral("adjustRecordingSignalVolume refused: %1 is outside 0..400").arg(volume));
            return static_cast<int>(kErrInvalidArgument);
        }
        m_volume = volume;
        if (m_capture)
            m_capture->setVolume(volume / 100.0);
        log(QStringLiteral("recording volume %1").arg(volume));
        return static_cast<int>(kOk);
    });
}

int GstRtcEngine::setParameters(const char* parameters)
{
    const QByteArray text(parameters ? parameters : "");
    return call([this, text] {
        QJsonParseError parseError{};
        const QJsonDocument document = QJsonDocument::fromJson(text, &parseError);
        if (parseError.error != QJsonParseError::NoError || !document.isObject()) {
            log(QStringLiteral("setParameters refused: not a JSON object: %1").arg(QString::fromUtf8(text)));
            return static_cast<int>(kErrInvalidArgument);
        }
        log(QStringLiteral("setParameters %1").arg(QString::fromUtf8(text)));
        const QJsonObject object = document.object();
        int result = kOk;
        for (auto it = object.begin(); it != object.end(); ++it) {
            const int code = applyParameter(it.key(), it.value());
            if (code != kOk && result == kOk)
                result = code;
        }
        return result;
    });
}

int GstRtcEngine::applyParameter(const QString& key, const QJsonValue& value)
{
    static const QStringList switches = {
        QStringLiteral("che.audio.bypass.apm"), QStringLiteral("che.audio.stereo.capture"),
        QStringLiteral("che.audio.enable.aec"), QStringLiteral("che.audio.enable.ns"),
        QStringLiteral("che.audio.enable.agc"), QStringLiteral("che.audio.stop_debug_recording"),
    };
    if (switches.contains(key)) {
        if (!value.isBool()) {
            log(QStringLiteral("parameter %1 refused: not true or false").arg(key));
            return kErrInvalidArgument;
        }
        m_parameters.insert(key, value);
        if (key == QLatin1String("che.audio.stop_debug_recording") && value.toBool())
            stopDebugRecording();
        return kOk;
    }
    if (key == QLatin1String("che.audio.specify.codec")) {
        if (!value.isString()) {
            log(QStringLiteral("parameter %1 refused: not a text").arg(key));
            return kErrInvalidArgument;
        }
        m_parameters.insert(key, value);
        if (value.toString().startsWith(QLatin1String("HEAAC")) && !m_heAacNoted) {
            m_heAacNoted = true;
            log(QStringLiteral("HE-AAC is not available (no encoder for it); AAC-LC is used instead"));
        }
        return kOk;
    }
    if (key == QLatin1String("che.audio.start_debug_recording")) {
        if (!value.isString()) {
            log(QStringLiteral("parameter %1 refused: not a text").arg(key));
            return kErrInvalidArgument;
        }
        return startDebugRecording(value.toString());
    }
    log(QStringLiteral("parameter %1 is not known; ignored").arg(key));
    return kErrNotSupported;
}

int GstRtcEngine::startDebugRecording(const QString& name)
{
    if (!ensureGstreamer())
        return kErrFailed;
    stopDebugRecording();
    const QString logPath = m_log.filePath();
    const QString dir = logPath.isEmpty() ? QDir::currentPath() : QFileInfo(logPath).absolutePath();
    const QString path = QDir(dir).filePath(
        safeRecordingName(name) + QLatin1Char('-') +
        QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")) + QStringLiteral(".wav"));
    auto recorder = std::make_shared<GstPcmRecorder>(m_loop, path);
    recorder->onError = [this](const QString& error) {
        log(QStringLiteral("debug recording failed: %1").arg(error));
    };
    QString error;
    if (!recorder->start(error)) {
        log(QStringLiteral("debug recording to %1 does not start: %2").arg(path, error));
        return kErrFailed;
    }
    m_recorder = recorder;
    m_recordingPath = path;
    updateFeedTargets();
    log(QStringLiteral("debug recording to %1").arg(path));
    return kOk;
}

void GstRtcEngine::stopDebugRecording()
{
    if (!m_recorder)
        return;
    std::shared_ptr<GstFedPipeline> recorder = std::move(m_recorder);
    m_recorder.reset();
    updateFeedTargets();
    // Waits for the end of stream so that the WAV header carries the real length.
    recorder->stop(2000);
    log(QStringLiteral("debug recording saved: %1 (%2 frames)")
            .arg(m_recordingPath)
            .arg(recorder->pushedFrames()));
}

QList<QPair<QString, QString>> GstRtcEngine::recordingDeviceList()
{
    QList<QPair<QString, QString>> devices;
    if (!ensureGstreamer())
        return devices;
    for (const GstAudioDevices::Device& device : listDevices())
        devices.append(qMakePair(device.name, device.id));
    log(QStringLiteral("%1 recording devices").arg(devices.size()));
    return devices;
}

int GstRtcEngine::setRecordingDevice(const char* deviceId)
{
    const QString id = QString::fromUtf8(deviceId ? deviceId : "");
    return call([this, id] {
        if (id.isEmpty())
            return static_cast<int>(kErrInvalidArgument);
        if (!ensureGstreamer())
            return static_cast<int>(kErrFailed);
        bool known = false;
        for (const GstAudioDevices::Device& device : listDevices())
            known = known || device.id == id;
        if (!known) {
            log(QStringLiteral("setRecordingDevice refused: no device \"%1\"").arg(id));
            return static_cast<int>(kErrRefused);
        }
        m_deviceId = id;
        log(QStringLiteral("recording device %1").arg(id));
        if (!captureWanted())
            return static_cast<int>(kOk);
        // Re-link the capture; the channel and the relays stay.
        stopCapture();
        return startCapture(m_joined ? kCaptureStartWaitMs : 0);
    });
}

int GstRtcEngine::startRecordingDeviceTest(int indicationIntervalMs)
{
    return callInitialized("startRecordingDeviceTest", [this, indicationIntervalMs] {
        if (indicationIntervalMs < kMinLevelIntervalMs || indicationIntervalMs > kMaxLevelIntervalMs) {
            log(QStringLiteral("startRecordingDeviceTest refused: interval %1 ms").arg(indicationIntervalMs));
            return static_cast<int>(kErrInvalidArgument);
        }
        const bool wasOn = m_deviceTest;
        m_deviceTest = true;
        if (m_levelIntervalMs != indicationIntervalMs) {
            m_loop.removeTimer(m_levelTimer);
            m_levelTimer = 0;
            m_levelIntervalMs = indicationIntervalMs;
        }
        updateLevelTimer();
        if (!wasOn)
            log(QStringLiteral("recording device test on, level every %1 ms").arg(indicationIntervalMs));
        if (m_capture || m_captureLost)
            return static_cast<int>(kOk);
        // Without a device the test stays on and starts when one is chosen.
        return startCapture(0);
    });
}

int GstRtcEngine::stopRecordingDeviceTest()
{
    return callInitialized("stopRecordingDeviceTest", [this] {
        if (!m_deviceTest)
            return static_cast<int>(kOk);
        m_deviceTest = false;
        updateLevelTimer();
        if (!m_joined)
            releaseCapture();
        log(QStringLiteral("recording device test off"));
        return static_cast<int>(kOk);
    });
}

QList<GstAudioDevices::Device> GstRtcEngine::listDevices() const
{
    return GstAudioDevices::list(m_deviceWatch ? m_deviceWatch->monitor() : nullptr);
}

int GstRtcEngine::startCapture(int waitPlayingMs)
{
    QString deviceId = m_deviceId;
    const QList<GstAudioDevices::Device> devices = listDevices();
    bool present = false;
    for (const GstAudioDevices::Device& device : devices)
        present = present || device.id == deviceId;
    if (devices.isEmpty() || (!deviceId.isEmpty() && !present)) {
        const QString why = devices.isEmpty()
                                ? QStringLiteral("no recording device")
                                : QStringLiteral("recording device \"%1\" is gone").arg(deviceId);
        log(QStringLiteral("capture does not start: %1").arg(why));
        notify([](IRtcEngineEventHandler* handler) {
            handler->onLocalAudioStateChanged(kLocalAudioFailed, kLocalAudioErrorNoDevice);
        });
        return kErrNoDevice;
    }
    if (deviceId.isEmpty())
        deviceId = devices.first().id; // the default comes first

    auto capture = std::make_unique<GstCapture>(m_loop);
    capture->onBuffer = [this](GstBuffer* buffer) { onCaptureBuffer(buffer); };
    capture->onError = [this](const QString& error) {
        m_loop.post([this, error] { onCaptureError(error); });
    };
    QString error;
    m_firstFrameSeen = false;
    if (!capture->start(deviceId, m_volume / 100.0, m_muted, waitPlayingMs, error)) {
        log(QStringLiteral("capture of %1 does not start: %2").arg(deviceId, error));
        notify([](IRtcEngineEventHandler* handler) {
            handler->onLocalAudioStateChanged(kLocalAudioFailed, kLocalAudioErrorRecordingFailure);
        });
        return kErrNoDevice;
    }
    m_capture = std::move(capture);
    if (m_captureLost) {
        clearCaptureLost();
        log(QStringLiteral("capture of %1 is back").arg(deviceId));
    }
    m_captureFramesSeen = 0;
    m_captureProgress.start();
    if (m_captureTimer == 0)
        m_captureTimer = m_loop.addTimer(kCaptureCheckMs, [this] { checkCapture(); });
    log(QStringLiteral("capturing %1 at volume %2%3")
            .arg(deviceId)
            .arg(m_volume)
            .arg(m_muted ? ", muted" : ""));
    notify([](IRtcEngineEventHandler* handler) {
        handler->onLocalAudioStateChanged(kLocalAudioRecording, kLocalAudioErrorOk);
    });
    return kOk;
}

void GstRtcEngine::checkCapture()
{
    if (!m_capture)
        return;
    const QString current = m_capture->currentDevice();
    if (!current.isEmpty() && current != m_capture->deviceId()) {
        // Never send another device's sound than the one chosen.
        onCaptureError(
            QStringLiteral("the device is gone (the sound server moved the capture to %1)").arg(current));
        return;
    }
    const uint64_t frames = m_capture->capturedFrames();
    if (frames != m_captureFramesSeen) {
        m_captureFramesSeen = frames;
        m_captureProgress.restart();
        return;
    }
    const qint64 allowedMs = frames == 0 ? kCaptureFirstBufferMs : kCaptureStallMs;
    if (m_captureProgress.elapsed() >= allowedMs)
        onCaptureError(QStringLiteral("no audio from the device for %1 ms").arg(m_captureProgress.elapsed()));
}

void GstRtcEngine::stopCapture()
{
    m_loop.removeTimer(m_captureTimer);
    m_captureTimer = 0;
    if (!m_capture)
        return;
    m_capture->stop();
    m_capture.reset();
    notify([](IRtcEngineEventHandler* handler) {
        handler->onLocalAudioStateChanged(kLocalAudioStopped, kLocalAudioErrorOk);
    });
}

void GstRtcEngine::releaseCapture()
{
    stopCapture();
    clearCaptureLost();
    updateLevelTimer();
}

void GstRtcEngine::clearCaptureLost()
{
    m_captureLost = false;
    stopSilence();
    m_loop.removeTimer(m_deviceRetryTimer);
    m_deviceRetryTimer = 0;
}

void GstRtcEngine::updateLevelTimer()
{
    const bool wanted = m_deviceTest && m_levelIntervalMs > 0;
    if (wanted && m_levelTimer == 0) {
        m_levelTimer =
            m_loop.addTimer(static_cast<unsigned int>(m_levelIntervalMs), [this] { reportLevel(); });
    } else if (!wanted && m_levelTimer != 0) {
        m_loop.removeTimer(m_levelTimer);
        m_levelTimer = 0;
    }
}

AudioVolumeInfo GstRtcEngine::takeLocalLevel()
{
    const int peak = m_capture ? m_capture->takePeak() : 0;
    AudioVolumeInfo speaker;
    speaker.uid = 0; // the local user
    speaker.volume = static_cast<unsigned int>(std::lround(peak * 255.0 / 32768.0));
    speaker.vad = speaker.volume >= 8 ? 1 : 0;
    return speaker;
}

void GstRtcEngine::reportLevel()
{
    const AudioVolumeInfo speaker = takeLocalLevel();
    // Called by the loop's own timer, outside any call into the engine: the handler may run
    // here at once, which spares a second pass through the loop twenty times a second.
    if (m_handler)
        m_handler->onAudioVolumeIndication(&speaker, 1, static_cast<int>(speaker.volume));
}

void GstRtcEngine::onCaptureBuffer(GstBuffer* buffer)
{
    // GStreamer's streaming thread: hand the buffer on, nothing else.
    if (!m_firstFrameSeen.exchange(true)) {
        notify([this](IRtcEngineEventHandler* handler) {
            if (m_joined) // not for the device test alone
                handler->onFirstLocalAudioFrame(static_cast<int>(m_joinClock.elapsed()));
        });
    }
    feed(buffer);
}

void GstRtcEngine::feed(GstBuffer* buffer)
{
    std::vector<std::shared_ptr<GstFedPipeline>> targets;
    {
        std::lock_guard<std::mutex> lock(m_feedMutex);
        targets = m_feedTargets;
    }
    for (const auto& target : targets)
        target->push(buffer);
}

void GstRtcEngine::startSilence()
{
    m_silenceFrames = 0;
    m_silenceClock.start();
    if (m_silenceTimer == 0)
        m_silenceTimer = m_loop.addTimer(kSilenceTickMs, [this] { pushSilence(); });
}

void GstRtcEngine::stopSilence()
{
    m_loop.removeTimer(m_silenceTimer);
    m_silenceTimer = 0;
}

void GstRtcEngine::pushSilence()
{
    // As many frames as real time asks for, so the stream's clock keeps pace with the wall.
    const uint64_t due = static_cast<uint64_t>(m_silenceClock.elapsed()) * GstFedPipeline::kSampleRate / 1000;
    if (due <= m_silenceFrames)
        return;
    const uint64_t frames = qMin<uint64_t>(due - m_silenceFrames, GstFedPipeline::kSampleRate);
    m_silenceFrames = due;
    const gsize size = static_cast<gsize>(frames * GstFedPipeline::kBytesPerFrame);
    GstBuffer* buffer = gst_buffer_new_allocate(nullptr, size, nullptr);
    gst_buffer_memset(buffer, 0, 0, size);
    feed(buffer);
    gst_buffer_unref(buffer);
}

void GstRtcEngine::tryRestoreCapture()
{
    if (!captureWanted() || !m_captureLost || m_capture)
        return;
    const QString wanted = m_deviceId.isEmpty() ? m_lostDeviceId : m_deviceId;
    bool present = false;
    for (const GstAudioDevices::Device& device : listDevices())
        present = present || device.id == wanted || (m_deviceId.isEmpty() && device.isDefault);
    if (present)
        startCapture(0); // a failure comes back through onCaptureError
}

void GstRtcEngine::onDeviceChange(const QString& id, bool present)
{
    log(QStringLiteral("recording device %1 %2")
            .arg(id, present ? QStringLiteral("appeared") : QStringLiteral("went")));
    const QByteArray idBytes = id.toUtf8();
    notify([idBytes, present](IRtcEngineEventHandler* handler) {
        handler->onAudioDeviceStateChanged(idBytes.constData(), kAudioRecordingDevice,
                                           present ? kDeviceStateActive : kDeviceStateUnplugged);
    });
    if (present)
        tryRestoreCapture();
}

void GstRtcEngine::onCaptureError(const QString& error)
{
    if (!m_capture)
        return;
    const QString deviceId = m_capture->deviceId();
    log(QStringLiteral("capture of %1 failed: %2").arg(deviceId, error));
    m_loop.removeTimer(m_captureTimer);
    m_captureTimer = 0;
    m_capture->stop();
    m_capture.reset();
    notify([](IRtcEngineEventHandler* handler) {
        handler->onLocalAudioStateChanged(kLocalAudioFailed, kLocalAudioErrorRecordingFailure);
        handler->onError(kSdkErrorAudioCaptureFailed, "audio capture failed");
    });
    if (!captureWanted())
        return;
    // Wait for the device to come back; the push goes on with silence meanwhile.
    m_lostDeviceId = deviceId;
    m_captureLost = true;
    if (m_deviceRetryTimer == 0)
        m_deviceRetryTimer = m_loop.addTimer(kDeviceRetryMs, [this] { tryRestoreCapture(); });
    if (m_joined) {
        startSilence();
        log(QStringLiteral("sending silence until %1 is back").arg(deviceId));
    }
}

void GstRtcEngine::updateFeedTargets()
{
    std::vector<std::shared_ptr<GstFedPipeline>> targets;
    for (const RelayEntry& entry : qAsConst(m_relays)) {
        if (entry.relay)
            targets.push_back(entry.relay);
    }
    if (m_recorder)
        targets.push_back(m_recorder);
    std::lock_guard<std::mutex> lock(m_feedMutex);
    m_feedTargets.swap(targets);
}

std::shared_ptr<GstRelay> GstRtcEngine::makeRelay(const QString& url)
{
    auto relay = std::make_shared<GstRelay>(m_loop, url);
    std::weak_ptr<GstRelay> weak = relay;
    relay->onError = [this, url, weak](const QString& error) {
        m_loop.post([this, url, weak, error] {
            if (auto failed = weak.lock())
                onRelayError(url, failed, error);
        });
    };
    return relay;
}

void GstRtcEngine::retireConnection(RelayEntry& entry, int eosWaitMs)
{
    if (!entry.relay)
        return;
    std::shared_ptr<GstRelay> relay = std::move(entry.relay);
    entry.relay.reset();
    updateFeedTargets();
    relay->stop(eosWaitMs);
    entry.flvBytes = relay->flvBytes();
    entry.aacBytes = relay->aacBytes();
    m_doneAckedBytes += entry.ackedBytes;
    if (entry.flvBytes > 0)
        m_doneAckedAacBytes += entry.ackedBytes * entry.aacBytes / entry.flvBytes;
    entry.ackedBytes = entry.flvBytes = entry.aacBytes = 0;
    entry.ackSamples.clear();
}

void GstRtcEngine::stopRelay(const QString& url, bool report)
{
    auto it = m_relays.find(url);
    if (it == m_relays.end())
        return;
    RelayEntry entry = it.value();
    m_relays.erase(it);
    if (entry.relay && entry.state == RelayState::Running) {
        // Last look at the acknowledgements, then let the stream drain (a connecting relay has
        // nothing to drain and must not hold the caller up).
        checkAcknowledgements(url, entry, VClock::monotonicMs(), false);
    }
    const uint64_t acked = entry.ackedBytes;
    const bool running = entry.relay && entry.state == RelayState::Running;
    const uint64_t handedOver = entry.relay ? entry.relay->flvBytes() : 0;
    retireConnection(entry, running ? 1000 : 0);
    log(QStringLiteral("relay to %1 stopped: %2 bytes acknowledged by the server (%3 handed over)")
            .arg(url)
            .arg(acked)
            .arg(handedOver));
    if (report) {
        const QByteArray bytes = url.toUtf8();
        notify([bytes](IRtcEngineEventHandler* handler) {
            handler->onRtmpStreamingStateChanged(bytes.constData(), kRtmpStateIdle, kRtmpErrorOk);
            handler->onStreamUnpublished(bytes.constData());
        });
    }
    if (m_relays.isEmpty()) {
        m_loop.removeTimer(m_pollTimer);
        m_pollTimer = 0;
    }
}

int GstRtcEngine::relayErrorCode(const QString& error, bool wasRunning) const
{
    if (wasRunning)
        return kRtmpErrorConnectionLost;
    if (error.contains(QLatin1String("refused"), Qt::CaseInsensitive) ||
        error.contains(QLatin1String("resolve"), Qt::CaseInsensitive) ||
        error.contains(QLatin1String("timed out"), Qt::CaseInsensitive) ||
        error.contains(QLatin1String("connect"), Qt::CaseInsensitive))
        return kRtmpErrorConnectionFailed;
    return kRtmpErrorServerRejected;
}

void GstRtcEngine::onRelayError(const QString& url, const std::shared_ptr<GstRelay>& relay,
                                const QString& error)
{
    auto it = m_relays.find(url);
    if (it == m_relays.end() || it->relay != relay)
        return;
    failRelay(url, it.value(), error, relayErrorCode(error, it->state == RelayState::Running));
}

void GstRtcEngine::failRelay(const QString& url, RelayEntry& entry, const QString& error, int code)
{
    retireConnection(entry, 0);
    entry.state = RelayState::Waiting;
    const int attempt = entry.reconnect.fail(VClock::monotonicMs());
    const int delayMs = RelayReconnectSchedule::delayMs(attempt);
    log(QStringLiteral("relay to %1 failed (code %2): %3; next attempt (%4) in %5 ms")
            .arg(url)
            .arg(code)
            .arg(error)
            .arg(attempt)
            .arg(delayMs));
    const QByteArray bytes = url.toUtf8();
    const bool firstPublishFailed = !entry.everRunning && attempt == 1;
    notify([bytes, code, attempt, delayMs, firstPublishFailed](IRtcEngineEventHandler* handler) {
        handler->onRtmpStreamingStateChanged(bytes.constData(), kRtmpStateRecovering, code);
        if (firstPublishFailed)
            handler->onStreamPublished(bytes.constData(), code);
        handler->onRtmpStreamingReconnecting(bytes.constData(), attempt, delayMs);
    });
}

void GstRtcEngine::startAttempt(const QString& url, RelayEntry& entry)
{
    entry.reconnect.start();
    log(QStringLiteral("relay to %1: attempt %2 to reach the server again")
            .arg(url)
            .arg(entry.reconnect.attempt()));
    std::shared_ptr<GstRelay> relay = makeRelay(url);
    QString error;
    if (!relay->start(error)) {
        failRelay(url, entry, error, kRtmpErrorInternal);
        return;
    }
    entry.relay = relay;
    entry.state = RelayState::Connecting;
    entry.lastAckMs = VClock::monotonicMs();
    updateFeedTargets();
}

void GstRtcEngine::checkAcknowledgements(const QString& url, RelayEntry& entry, qint64 nowMs,
                                         bool detectStall)
{
    const GstRelay::ServerCounts counts = entry.relay->serverCounts();
    entry.flvBytes = entry.relay->flvBytes();
    entry.aacBytes = entry.relay->aacBytes();
    if (counts.ackedBytes > entry.ackedBytes) {
        entry.ackedBytes = counts.ackedBytes;
        entry.lastAckMs = nowMs;
        const qint64 realMs = m_rateClock.elapsed();
        entry.ackSamples.append(qMakePair(realMs, counts.ackedBytes));
        while (entry.ackSamples.size() > 2 && realMs - entry.ackSamples.at(1).first >= kRateSpanMs)
            entry.ackSamples.removeFirst();
        return;
    }
    const uint64_t window = counts.ackWindowBytes;
    if (detectStall && window > 0 && counts.sentBytes > entry.ackedBytes + 2 * window &&
        nowMs - entry.lastAckMs >= kAckStallMs) {
        failRelay(url, entry,
                  QStringLiteral("the server has acknowledged nothing for %1 ms (%2 bytes owed)")
                      .arg(nowMs - entry.lastAckMs)
                      .arg(counts.sentBytes - entry.ackedBytes),
                  kRtmpErrorNoAcknowledgement);
    }
}

void GstRtcEngine::pollRelays()
{
    const qint64 nowMs = VClock::monotonicMs();
    for (auto it = m_relays.begin(); it != m_relays.end(); ++it) {
        RelayEntry& entry = it.value();
        const QString& url = it.key();
        switch (entry.state) {
        case RelayState::Waiting:
            if (entry.reconnect.isDue(nowMs))
                startAttempt(url, entry);
            break;
        case RelayState::Connecting: {
            if (!entry.relay->isConnected())
                break;
            entry.state = RelayState::Running;
            entry.lastAckMs = nowMs;
            const int attempts = entry.reconnect.attempt();
            entry.reconnect.reset();
            const bool first = !entry.everRunning;
            entry.everRunning = true;
            log(attempts > 0
                    ? QStringLiteral("relay to %1 running again after %2 attempts").arg(url).arg(attempts)
                    : QStringLiteral("relay to %1 running").arg(url));
            const QByteArray bytes = url.toUtf8();
            notify([bytes, first](IRtcEngineEventHandler* handler) {
                handler->onRtmpStreamingStateChanged(bytes.constData(), kRtmpStateRunning, kRtmpErrorOk);
                if (first)
                    handler->onStreamPublished(bytes.constData(), kRtmpErrorOk);
            });
            break;
        }
        case RelayState::Running:
            checkAcknowledgements(url, entry, nowMs, true);
            break;
        }
    }
}

unsigned int GstRtcEngine::acknowledgedKBitRate()
{
    const qint64 realMs = m_rateClock.elapsed();
    uint64_t rate = 0;
    for (const RelayEntry& entry : qAsConst(m_relays)) {
        if (entry.state != RelayState::Running || entry.ackSamples.size() < 2)
            continue;
        const auto& first = entry.ackSamples.first();
        const auto& last = entry.ackSamples.last();
        // A server that has gone quiet is acknowledging nothing now.
        if (realMs - last.first >= kAckStallMs || last.first - first.first < 1000)
            continue;
        rate += (last.second - first.second) * 8 / static_cast<uint64_t>(last.first - first.first);
    }
    return static_cast<unsigned int>(qMin<uint64_t>(rate, 65535));
}

RtcStats GstRtcEngine::currentStats(unsigned int intervalMs)
{
    RtcStats stats;
    // Only what the server acknowledged counts as sent; the audio share of it is estimated
    // from each connection's AAC-to-FLV ratio.
    uint64_t acked = m_doneAckedBytes;
    uint64_t ackedAac = m_doneAckedAacBytes;
    uint64_t flv = 0;
    uint64_t aac = 0;
    for (const RelayEntry& entry : qAsConst(m_relays)) {
        acked += entry.ackedBytes;
        if (entry.flvBytes > 0)
            ackedAac += entry.ackedBytes * entry.aacBytes / entry.flvBytes;
        flv += entry.flvBytes;
        aac += entry.aacBytes;
    }
    const unsigned int interval = qMax(1u, intervalMs);
    stats.duration = static_cast<unsigned int>(m_joinClock.elapsed() / 1000);
    stats.txBytes = static_cast<unsigned int>(acked);
    stats.txAudioBytes = static_cast<unsigned int>(ackedAac);
    const unsigned int rate = acknowledgedKBitRate();
    stats.txKBitRate = static_cast<unsigned short>(rate);
    stats.txAudioKBitRate = static_cast<unsigned short>(flv > 0 ? rate * aac / flv : 0);
    stats.userCount = 1;

    const long cpuUs = processCpuMicroseconds();
    const int cores = qMax(1, QThread::idealThreadCount());
    stats.cpuAppUsage =
        qBound(0.0, 100.0 * static_cast<double>(cpuUs - m_lastCpuAppUs) / (interval * 1000.0) / cores, 100.0);
    unsigned long long total = 0;
    unsigned long long idle = 0;
    // Too few clock ticks since the last look say nothing; keep the last figure then.
    constexpr unsigned long long kMinTicks = 50;
    if (machineCpu(total, idle) && total >= m_lastCpuTotal + kMinTicks) {
        m_cpuTotalUsage = 100.0 * (1.0 - static_cast<double>(idle - m_lastCpuIdle) /
                                             static_cast<double>(total - m_lastCpuTotal));
        m_lastCpuTotal = total;
        m_lastCpuIdle = idle;
    }
    stats.cpuTotalUsage = m_cpuTotalUsage;
    m_lastCpuAppUs = cpuUs;
    return stats;
}

void GstRtcEngine::reportStatistics()
{
    if (!m_joined)
        return;
    const unsigned int intervalMs = static_cast<unsigned int>(qMax<qint64>(1, m_statsClock.restart()));
    const RtcStats stats = currentStats(intervalMs);

    LocalAudioStats local;
    local.numChannels = GstFedPipeline::kChannels;
    local.sentSampleRate = GstFedPipeline::kSampleRate;
    local.sentBitrate = stats.txAudioKBitRate;

    // The device test reports the level on its own, more often.
    const bool withLevel = m_levelTimer == 0;
    const AudioVolumeInfo speaker = withLevel ? takeLocalLevel() : AudioVolumeInfo();
    const int totalVolume = static_cast<int>(speaker.volume);

    int txQuality = 0; // unknown: nothing is sent
    bool anyFailed = false;
    bool allRunning = !m_relays.isEmpty();
    for (const RelayEntry& entry : qAsConst(m_relays)) {
        anyFailed = anyFailed || entry.state == RelayState::Waiting;
        allRunning = allRunning && entry.state == RelayState::Running;
    }
    if (anyFailed)
        txQuality = 6; // down
    else if (allRunning)
        txQuality = 1; // excellent
    if (!m_capture)
        txQuality = anyFailed ? 6 : 0;

    notify([stats, local, withLevel, speaker, totalVolume, txQuality](IRtcEngineEventHandler* handler) {
        handler->onRtcStats(stats);
        handler->onLocalAudioStats(local);
        if (withLevel)
            handler->onAudioVolumeIndication(&speaker, 1, totalVolume);
        handler->onNetworkQuality(0, txQuality, 0);
    });
}

} // namespace rtc
} // namespace agora
