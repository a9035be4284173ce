#include <gst/gst.h>

#include "rtc/sdk/GstRtcEngine.h"

#include "base/OutsideText.h"
#include "base/VClock.h"
#include "rtc/sdk/GstAudioDeviceManager.h"
#include "rtc/sdk/GstEngineParameter.h"
#include "rtc/sdk/GstPluginSet.h"
#include "rtc/sdk/GstRelay.h"

#include <QFileInfo>

namespace agora {
namespace rtc {

GstRtcEngine::GstRtcEngine()
    : m_capture(m_loop, {[this](Callback callback) { notify(std::move(callback)); },
                         [this](const QString& line) { log(line); }, [this] { return m_handler.load(); }}),
      m_parameters(m_loop, m_log),
      m_relays(m_loop, m_statistics,
               {nullptr, [this](Callback callback) { notify(std::move(callback)); },
                [this](const QString& line) { log(line); }, [this] { updateFeedTargets(); }})
{
    m_parameters.recording().recorderChanged = [this] { updateFeedTargets(); };
}

GstRtcEngine::~GstRtcEngine()
{
    m_loop.runSync([this] {
        m_relays.removeAll(false);
        m_joined = false;
        m_capture.shutdown();
        m_parameters.recording().stop();
        m_loop.removeTimer(m_statsTimer);
        m_statsTimer = 0;
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
        if (IRtcEngineEventHandler* handler = m_handler)
            callback(handler);
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
        if (!GstPluginSet::initialize()) {
            log(QStringLiteral("initialize failed: GStreamer is not available"));
            return static_cast<int>(kErrFailed);
        }
        if (context.logConfig.filePath && *context.logConfig.filePath)
            m_log.setFile(QString::fromUtf8(context.logConfig.filePath));
        m_appId = appId;
        m_handler = context.eventHandler;
        m_initialized = true;
        if (!m_capture.watchDevices())
            log(QStringLiteral("device changes cannot be followed (no device monitor)"));
        gchar* version = gst_version_string();
        log(QStringLiteral("initialize: area code %1, %2, encoder %3; %4")
                .arg(context.areaCode)
                .arg(QString::fromUtf8(version))
                .arg(GstRelay::encoderName())
                .arg(GstPluginSet::description()));
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
        m_capture.setMuted(mute);
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

int GstRtcEngine::joinChannel(const char* /*token*/, const char* channelId, const char* /*info*/,
                              unsigned int uid)
{
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
        const int captured = m_capture.join();
        if (captured != kOk)
            return captured;
        m_joined = true;
        m_channel = channel;
        m_uid = uid;
        m_statistics.start();
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
        m_relays.removeAll(true);
        const RtcStats stats =
            m_statistics.current({}, m_statistics.intervalMs(false), m_joinClock.elapsed());
        m_loop.removeTimer(m_statsTimer);
        m_statsTimer = 0;
        m_joined = false;
        m_capture.leave();
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
            log(QStringLiteral("addPublishStreamUrl refused: not an RTMP address: \"%1\"")
                    .arg(OutsideText::capped(address)));
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
        if (const ReconnectingRelay* existing = m_relays.find(address)) {
            if (!existing->isWaiting()) {
                log(QStringLiteral("addPublishStreamUrl refused: already publishing to %1").arg(address));
                return static_cast<int>(kErrRefused);
            }
            // A relay waiting for its next attempt starts over at once.
            m_relays.remove(address, false);
        }
        QString error;
        if (!m_relays.add(address, error)) {
            log(QStringLiteral("relay to %1 does not start: %2").arg(address, error));
            const QByteArray bytes = address.toUtf8();
            notify([bytes](IRtcEngineEventHandler* handler) {
                handler->onRtmpStreamingStateChanged(bytes.constData(), kRtmpStateFailure,
                                                     kRtmpErrorInternal);
            });
            return static_cast<int>(kErrFailed);
        }
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
        if (!m_relays.find(address)) {
            log(QStringLiteral("removePublishStreamUrl: not publishing to \"%1\"").arg(address));
            return static_cast<int>(kErrRefused);
        }
        m_relays.remove(address, true);
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
        m_capture.setVolume(volume);
        log(QStringLiteral("recording volume %1").arg(volume));
        return static_cast<int>(kOk);
    });
}

int GstRtcEngine::setParameters(const char* parameters)
{
    const QByteArray text(parameters ? parameters : "");
    return call([this, text] { return m_parameters.set(text); });
}

QList<QPair<QString, QString>> GstRtcEngine::recordingDeviceList()
{
    QList<QPair<QString, QString>> devices;
    if (!GstPluginSet::initialize())
        return devices;
    for (const GstAudioDevices::Device& device : m_capture.devices())
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
        if (!GstPluginSet::initialize())
            return static_cast<int>(kErrFailed);
        if (!m_capture.knows(id)) {
            log(QStringLiteral("setRecordingDevice refused: no device \"%1\"").arg(id));
            return static_cast<int>(kErrRefused);
        }
        log(QStringLiteral("recording device %1").arg(id));
        return m_capture.selectDevice(id);
    });
}

int GstRtcEngine::startRecordingDeviceTest(int indicationIntervalMs)
{
    return callInitialized("startRecordingDeviceTest", [this, indicationIntervalMs] {
        if (indicationIntervalMs < kMinLevelIntervalMs || indicationIntervalMs > kMaxLevelIntervalMs) {
            log(QStringLiteral("startRecordingDeviceTest refused: interval %1 ms").arg(indicationIntervalMs));
            return static_cast<int>(kErrInvalidArgument);
        }
        return m_capture.startTest(indicationIntervalMs);
    });
}

int GstRtcEngine::stopRecordingDeviceTest()
{
    return callInitialized("stopRecordingDeviceTest", [this] {
        m_capture.stopTest();
        return static_cast<int>(kOk);
    });
}

void GstRtcEngine::updateFeedTargets()
{
    std::vector<std::shared_ptr<GstFedPipeline>> targets = m_relays.pipelines();
    if (auto recorder = m_parameters.recording().recorder())
        targets.push_back(recorder);
    m_capture.setFeedTargets(std::move(targets));
}

void GstRtcEngine::reportStatistics()
{
    if (m_joined)
        notify(m_statistics.report(m_relays.all(), m_joinClock.elapsed(), m_capture));
}

} // namespace rtc
} // namespace agora
