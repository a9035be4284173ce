#include "rtc/sdk/ScriptedRtcEngine.h"

#include "rtc/sdk/DeviceListCollection.h"
#include "rtc/sdk/ScriptedRtcState.h"

#include <QJsonDocument>
#include <QMutexLocker>

namespace agora {
namespace rtc {

namespace {

ScriptedRtcState& state()
{
    return ScriptedRtcState::get();
}

class ScriptedEngineParameter : public IRtcEngineParameter
{
public:
    int setParameters(const char* parameters) override
    {
        const int code = scripted::record(QStringLiteral("setParameters"), {scripted::text(parameters)});
        if (code != 0)
            return code;
        // Same rule as the real backend: one JSON object per call.
        if (!parameters || !QJsonDocument::fromJson(QByteArray(parameters)).isObject())
            return kErrInvalidArgument;
        return kOk;
    }
    void release() override
    {
        scripted::record(QStringLiteral("IRtcEngineParameter::release"));
        delete this;
    }
};

class ScriptedDeviceCollection : public IAudioDeviceCollection
{
public:
    explicit ScriptedDeviceCollection(const QList<ScriptedRtcBackend::Device>& devices) : m_devices(devices)
    {
    }
    int getCount() override
    {
        const int code = scripted::record(QStringLiteral("getCount"));
        return code != 0 ? code : m_devices.size();
    }
    int getDevice(int index, char* deviceName, char* deviceId) override
    {
        const int code = scripted::record(QStringLiteral("getDevice"), {QString::number(index)});
        if (code != 0)
            return code;
        if (index < 0 || index >= m_devices.size() || !deviceName || !deviceId)
            return kErrInvalidArgument;
        DeviceListCollection::copyToBuffer(m_devices.at(index).name, deviceName);
        DeviceListCollection::copyToBuffer(m_devices.at(index).id, deviceId);
        return kOk;
    }
    void release() override
    {
        scripted::record(QStringLiteral("IAudioDeviceCollection::release"));
        delete this;
    }

private:
    QList<ScriptedRtcBackend::Device> m_devices;
};

class ScriptedDeviceManager : public IAudioDeviceManager
{
public:
    IAudioDeviceCollection* enumerateRecordingDevices() override
    {
        if (scripted::record(QStringLiteral("enumerateRecordingDevices")) != 0)
            return nullptr;
        QMutexLocker lock(&state().mutex);
        return new ScriptedDeviceCollection(state().devices);
    }
    int setRecordingDevice(const char* deviceId) override
    {
        const int code = scripted::record(QStringLiteral("setRecordingDevice"), {scripted::text(deviceId)});
        if (code != 0)
            return code;
        const QString id = deviceId ? QString::fromUtf8(deviceId) : QString();
        QMutexLocker lock(&state().mutex);
        for (const ScriptedRtcBackend::Device& device : qAsConst(state().devices)) {
            if (!id.isEmpty() && device.id == id) {
                state().recordingDevice = id;
                return kOk;
            }
        }
        return kErrRefused;
    }
    void release() override
    {
        scripted::record(QStringLiteral("IAudioDeviceManager::release"));
        delete this;
    }
};

} // namespace

ScriptedRtcEngine::ScriptedRtcEngine()
{
    scripted::record(QStringLiteral("createAgoraRtcEngine"));
    QMutexLocker lock(&state().mutex);
    state().engines.append(this);
}

ScriptedRtcEngine::~ScriptedRtcEngine()
{
    QMutexLocker lock(&state().mutex);
    state().engines.removeAll(this);
    if (state().engines.isEmpty()) {
        state().joined = false;
        state().publishedUrls.clear();
    }
}

void ScriptedRtcEngine::recordRelease(bool sync)
{
    scripted::record(QStringLiteral("IRtcEngine::release"), {scripted::flag(sync)});
}

int ScriptedRtcEngine::initialize(const RtcEngineContext& context)
{
    const int code =
        scripted::record(QStringLiteral("initialize"),
                         {scripted::text(context.appId), QString::number(context.areaCode),
                          QString::number(context.logConfig.level),
                          context.eventHandler ? QStringLiteral("handler") : QStringLiteral("null")});
    if (code != 0)
        return code;
    m_handler = context.eventHandler;
    return kOk;
}

int ScriptedRtcEngine::setLogFile(const char* filePath)
{
    return scripted::record(QStringLiteral("setLogFile"), {scripted::text(filePath)});
}

int ScriptedRtcEngine::disableVideo()
{
    return scripted::record(QStringLiteral("disableVideo"));
}

int ScriptedRtcEngine::enableAudio()
{
    return scripted::record(QStringLiteral("enableAudio"));
}

int ScriptedRtcEngine::setChannelProfile(int profile)
{
    return scripted::record(QStringLiteral("setChannelProfile"), {QString::number(profile)});
}

int ScriptedRtcEngine::setClientRole(int role)
{
    return scripted::record(QStringLiteral("setClientRole"), {QString::number(role)});
}

int ScriptedRtcEngine::setAudioProfile(int profile, int scenario)
{
    return scripted::record(QStringLiteral("setAudioProfile"),
                            {QString::number(profile), QString::number(scenario)});
}

int ScriptedRtcEngine::queryInterface(int interfaceId, void** inter)
{
    const int code = scripted::record(QStringLiteral("queryInterface"), {QString::number(interfaceId)});
    if (code != 0)
        return code;
    if (!inter)
        return kErrInvalidArgument;
    if (interfaceId == kInterfaceEngineParameter) {
        *inter = static_cast<IRtcEngineParameter*>(new ScriptedEngineParameter());
        return kOk;
    }
    if (interfaceId == kInterfaceAudioDeviceManager) {
        *inter = static_cast<IAudioDeviceManager*>(new ScriptedDeviceManager());
        return kOk;
    }
    return kErrNotSupported;
}

int ScriptedRtcEngine::muteAllRemoteAudioStreams(bool mute)
{
    return scripted::record(QStringLiteral("muteAllRemoteAudioStreams"), {scripted::flag(mute)});
}

int ScriptedRtcEngine::muteLocalAudioStream(bool mute)
{
    const int code = scripted::record(QStringLiteral("muteLocalAudioStream"), {scripted::flag(mute)});
    if (code == 0) {
        QMutexLocker lock(&state().mutex);
        state().localMuted = mute;
    }
    return code;
}

int ScriptedRtcEngine::enableWebSdkInteroperability(bool enabled)
{
    return scripted::record(QStringLiteral("enableWebSdkInteroperability"), {scripted::flag(enabled)});
}

int ScriptedRtcEngine::joinChannel(const char* token, const char* channelId, const char* info,
                                   unsigned int uid)
{
    const int code =
        scripted::record(QStringLiteral("joinChannel"), {scripted::text(token), scripted::text(channelId),
                                                         scripted::text(info), QString::number(uid)});
    if (code != 0)
        return code;
    if (!channelId || !*channelId)
        return kErrInvalidArgument;
    QMutexLocker lock(&state().mutex);
    state().joined = true;
    return kOk;
}

int ScriptedRtcEngine::leaveChannel()
{
    const int code = scripted::record(QStringLiteral("leaveChannel"));
    if (code != 0)
        return code;
    QMutexLocker lock(&state().mutex);
    state().joined = false;
    state().publishedUrls.clear();
    return kOk;
}

int ScriptedRtcEngine::addPublishStreamUrl(const char* url, bool transcodingEnabled)
{
    const int code = scripted::record(QStringLiteral("addPublishStreamUrl"),
                                      {scripted::text(url), scripted::flag(transcodingEnabled)});
    if (code != 0)
        return code;
    const QString text = url ? QString::fromUtf8(url) : QString();
    if (!text.startsWith(QLatin1String("rtmp://")))
        return kErrInvalidArgument;
    QMutexLocker lock(&state().mutex);
    if (state().publishedUrls.contains(text))
        return kErrRefused;
    state().publishedUrls.append(text);
    return kOk;
}

int ScriptedRtcEngine::removePublishStreamUrl(const char* url)
{
    const int code = scripted::record(QStringLiteral("removePublishStreamUrl"), {scripted::text(url)});
    if (code != 0)
        return code;
    QMutexLocker lock(&state().mutex);
    return state().publishedUrls.removeAll(url ? QString::fromUtf8(url) : QString()) > 0 ? kOk : kErrRefused;
}

int ScriptedRtcEngine::adjustRecordingSignalVolume(int volume)
{
    const int code =
        scripted::record(QStringLiteral("adjustRecordingSignalVolume"), {QString::number(volume)});
    if (code != 0)
        return code;
    if (volume < 0 || volume > 400)
        return kErrInvalidArgument;
    QMutexLocker lock(&state().mutex);
    state().volume = volume;
    return kOk;
}

} // namespace rtc
} // namespace agora
