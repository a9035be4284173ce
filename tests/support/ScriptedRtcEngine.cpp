#include "support/ScriptedRtcEngine.h"

#include "rtc/sdk/DeviceListCollection.h"
#include "support/ScriptedRtcState.h"

#include <QJsonDocument>

namespace agora {
namespace rtc {

namespace {

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
        return new ScriptedDeviceCollection(ScriptedRtcBackend::recordingDeviceList());
    }
    int setRecordingDevice(const char* deviceId) override
    {
        const int code = scripted::record(QStringLiteral("setRecordingDevice"), {scripted::text(deviceId)});
        if (code != 0)
            return code;
        const QString id = deviceId ? QString::fromUtf8(deviceId) : QString();
        return ScriptedRtcState::locked([&id](ScriptedRtcState& state) {
            for (const ScriptedRtcBackend::Device& device : qAsConst(state.devices)) {
                if (!id.isEmpty() && device.id == id) {
                    state.recordingDevice = id;
                    return static_cast<int>(kOk);
                }
            }
            return static_cast<int>(kErrRefused);
        });
    }
    int startRecordingDeviceTest(int indicationIntervalMs) override
    {
        const int code = scripted::record(QStringLiteral("startRecordingDeviceTest"),
                                          {QString::number(indicationIntervalMs)});
        if (code == 0)
            ScriptedRtcState::locked([](ScriptedRtcState& state) { state.deviceTest = true; });
        return code;
    }
    int stopRecordingDeviceTest() override
    {
        const int code = scripted::record(QStringLiteral("stopRecordingDeviceTest"));
        if (code == 0)
            ScriptedRtcState::locked([](ScriptedRtcState& state) { state.deviceTest = false; });
        return code;
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
    ScriptedRtcState::locked([this](ScriptedRtcState& state) { state.engines.append(this); });
}

ScriptedRtcEngine::~ScriptedRtcEngine()
{
    ScriptedRtcState::locked([this](ScriptedRtcState& state) {
        state.engines.removeAll(this);
        if (state.engines.isEmpty()) {
            state.joined = false;
            state.deviceTest = false;
            state.publishedUrls.clear();
        }
    });
}

void ScriptedRtcEngine::aboutToRelease(bool sync)
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
    return code != 0 ? code : RtcEngineBase::queryInterface(interfaceId, inter);
}

IRtcEngineParameter* ScriptedRtcEngine::createParameter()
{
    return new ScriptedEngineParameter();
}

IAudioDeviceManager* ScriptedRtcEngine::createDeviceManager()
{
    return new ScriptedDeviceManager();
}

int ScriptedRtcEngine::muteAllRemoteAudioStreams(bool mute)
{
    return scripted::record(QStringLiteral("muteAllRemoteAudioStreams"), {scripted::flag(mute)});
}

int ScriptedRtcEngine::muteLocalAudioStream(bool mute)
{
    const int code = scripted::record(QStringLiteral("muteLocalAudioStream"), {scripted::flag(mute)});
    if (code == 0)
        ScriptedRtcState::locked([mute](ScriptedRtcState& state) { state.localMuted = mute; });
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
    ScriptedRtcState::locked([](ScriptedRtcState& state) { state.joined = true; });
    return kOk;
}

int ScriptedRtcEngine::leaveChannel()
{
    const int code = scripted::record(QStringLiteral("leaveChannel"));
    if (code != 0)
        return code;
    ScriptedRtcState::locked([](ScriptedRtcState& state) {
        state.joined = false;
        state.localMuted = false; // as the real engine: the mute ends with the stay
        state.publishedUrls.clear();
    });
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
    return ScriptedRtcState::locked([&text](ScriptedRtcState& state) {
        if (state.publishedUrls.contains(text))
            return static_cast<int>(kErrRefused);
        state.publishedUrls.append(text);
        return static_cast<int>(kOk);
    });
}

int ScriptedRtcEngine::removePublishStreamUrl(const char* url)
{
    const int code = scripted::record(QStringLiteral("removePublishStreamUrl"), {scripted::text(url)});
    if (code != 0)
        return code;
    const QString text = url ? QString::fromUtf8(url) : QString();
    return ScriptedRtcState::locked([&text](ScriptedRtcState& state) {
        return static_cast<int>(state.publishedUrls.removeAll(text) > 0 ? kOk : kErrRefused);
    });
}

int ScriptedRtcEngine::adjustRecordingSignalVolume(int volume)
{
    const int code =
        scripted::record(QStringLiteral("adjustRecordingSignalVolume"), {QString::number(volume)});
    if (code != 0)
        return code;
    if (!isValidVolume(volume))
        return kErrInvalidArgument;
    ScriptedRtcState::locked([volume](ScriptedRtcState& state) { state.volume = volume; });
    return kOk;
}

} // namespace rtc
} // namespace agora
