#include "support/ScriptedRtcBackend.h"

#include "rtc/sdk/RtcEngineBase.h"

#include <QJsonDocument>
#include <QMutex>
#include <QMutexLocker>

namespace agora {
namespace rtc {

namespace {

using Snapshot = ScriptedRtcBackend::Snapshot;
using Devices = QList<ScriptedRtcBackend::Device>;

struct Failure
{
    QString key;
    int code;
    int times;
};

Devices defaultDevices()
{
    return {{QStringLiteral("Monitor of Null Output"), QStringLiteral("tavio_null.monitor")},
            {QStringLiteral("USB Microphone (default)"), QStringLiteral("usb.mic")}};
}

struct State
{
    QMutex mutex;
    Snapshot now;
    Devices devices = defaultDevices();
    QList<Failure> failures;
    QList<IRtcEngineEventHandler**> handlers; // one per live engine, oldest first
};

State& state()
{
    static State s;
    return s;
}

// Runs fn on the state with its mutex held.
template <typename Fn> auto locked(Fn fn)
{
    QMutexLocker lock(&state().mutex);
    return fn(state());
}

bool matches(const QString& key, const QString& call)
{
    return key == call || key == call.left(call.indexOf(QLatin1Char('(')));
}

template <typename T> QString arg(T value)
{
    if constexpr (std::is_same_v<T, bool>)
        return QLatin1String(value ? "true" : "false");
    else if constexpr (std::is_same_v<T, const char*>)
        return value ? QString::fromUtf8(value) : QStringLiteral("null");
    else
        return QString::number(value);
}

// Logs one call; returns the failure scripted for it, else 0.
template <typename... Args> int call(const char* name, Args... args)
{
    const QString text = QLatin1String(name) + QLatin1Char('(') + QStringList{arg(args)...}.join(", ") + ')';
    return locked([&text](State& s) {
        s.now.calls.append(text);
        for (int i = 0; i < s.failures.size(); ++i) {
            if (!matches(s.failures[i].key, text))
                continue;
            const int code = s.failures[i].code;
            if (s.failures[i].times > 0 && --s.failures[i].times == 0)
                s.failures.removeAt(i);
            return code;
        }
        return int(kOk);
    });
}

class Parameter : public IRtcEngineParameter
{
public:
    int setParameters(const char* json) override
    {
        if (const int code = call("setParameters", json))
            return code;
        if (!json || !QJsonDocument::fromJson(json).isObject())
            return kErrInvalidArgument; // as the real backend: one JSON object per call
        locked([json](State& s) { s.now.parameters << QString::fromUtf8(json); });
        return kOk;
    }
    void release() override { delete this; }
};

class Collection : public IAudioDeviceCollection
{
public:
    explicit Collection(const Devices& devices) : m_devices(devices) {}
    int getCount() override
    {
        const int code = call("getCount");
        return code ? code : m_devices.size();
    }
    int getDevice(int index, char* name, char* id) override
    {
        if (const int code = call("getDevice", index))
            return code;
        if (index < 0 || index >= m_devices.size() || !name || !id)
            return kErrInvalidArgument;
        qstrncpy(name, m_devices.at(index).name.toUtf8().constData(), kMaxDeviceIdLength);
        qstrncpy(id, m_devices.at(index).id.toUtf8().constData(), kMaxDeviceIdLength);
        return kOk;
    }
    void release() override { delete this; }

private:
    Devices m_devices;
};

class DeviceManager : public IAudioDeviceManager
{
public:
    IAudioDeviceCollection* enumerateRecordingDevices() override
    {
        return call("enumerateRecordingDevices") ? nullptr
                                                 : new Collection(locked([](State& s) { return s.devices; }));
    }
    int setRecordingDevice(const char* id) override
    {
        if (const int code = call("setRecordingDevice", id))
            return code;
        return locked([id](State& s) {
            for (const ScriptedRtcBackend::Device& device : qAsConst(s.devices))
                if (id && *id && device.id == QString::fromUtf8(id)) {
                    s.now.recordingDevice = device.id;
                    return int(kOk);
                }
            return int(kErrRefused);
        });
    }
    int startRecordingDeviceTest(int intervalMs) override
    {
        return test(call("startRecordingDeviceTest", intervalMs), true);
    }
    int stopRecordingDeviceTest() override { return test(call("stopRecordingDeviceTest"), false); }
    void release() override { delete this; }

private:
    static int test(int code, bool running)
    {
        if (code == kOk)
            locked([running](State& s) { s.now.deviceTest = running; });
        return code;
    }
};

class Engine : public RtcEngineBase
{
public:
    Engine()
    {
        call("createAgoraRtcEngine");
        locked([this](State& s) {
            s.handlers.append(&m_handler);
            ++s.now.liveEngines;
        });
    }
    ~Engine() override
    {
        locked([this](State& s) {
            s.handlers.removeAll(&m_handler);
            if (--s.now.liveEngines == 0) {
                s.now.joined = s.now.deviceTest = false;
                s.now.publishedUrls.clear();
            }
        });
    }
    void aboutToRelease(bool sync) override { call("IRtcEngine::release", sync); }

    int initialize(const RtcEngineContext& c) override
    {
        const int code = call("initialize", c.appId, c.areaCode, int(c.logConfig.level),
                              c.eventHandler ? "handler" : "null");
        if (code == kOk)
            m_handler = c.eventHandler;
        return code;
    }
    int setLogFile(const char* path) override { return call("setLogFile", path); }
    int disableVideo() override { return call("disableVideo"); }
    int enableAudio() override { return call("enableAudio"); }
    int setChannelProfile(int profile) override { return call("setChannelProfile", profile); }
    int setClientRole(int role) override { return call("setClientRole", role); }
    int setAudioProfile(int profile, int scenario) override
    {
        return call("setAudioProfile", profile, scenario);
    }
    int queryInterface(int id, void** inter) override
    {
        const int code = call("queryInterface", id);
        return code ? code : RtcEngineBase::queryInterface(id, inter);
    }
    int muteAllRemoteAudioStreams(bool mute) override { return call("muteAllRemoteAudioStreams", mute); }
    int muteLocalAudioStream(bool mute) override
    {
        const int code = call("muteLocalAudioStream", mute);
        if (code == kOk)
            locked([mute](State& s) { s.now.localMuted = mute; });
        return code;
    }
    int enableWebSdkInteroperability(bool enabled) override
    {
        return call("enableWebSdkInteroperability", enabled);
    }
    int joinChannel(const char* token, const char* channel, const char* info, unsigned int uid) override
    {
        if (const int code = call("joinChannel", token, channel, info, uid))
            return code;
        if (!channel || !*channel)
            return kErrInvalidArgument;
        locked([](State& s) { s.now.joined = true; });
        return kOk;
    }
    int leaveChannel() override
    {
        if (const int code = call("leaveChannel"))
            return code;
        locked([](State& s) {
            s.now.joined = s.now.localMuted = false; // the mute ends with the stay
            s.now.publishedUrls.clear();
        });
        return kOk;
    }
    int addPublishStreamUrl(const char* url, bool transcoding) override
    {
        if (const int code = call("addPublishStreamUrl", url, transcoding))
            return code;
        const QString address = QString::fromUtf8(url ? url : "");
        if (!address.startsWith(QLatin1String("rtmp://")))
            return kErrInvalidArgument;
        return locked([&address](State& s) {
            if (s.now.publishedUrls.contains(address))
                return int(kErrRefused);
            s.now.publishedUrls << address;
            return int(kOk);
        });
    }
    int removePublishStreamUrl(const char* url) override
    {
        if (const int code = call("removePublishStreamUrl", url))
            return code;
        const QString address = QString::fromUtf8(url ? url : "");
        return locked(
            [&address](State& s) { return s.now.publishedUrls.removeAll(address) ? kOk : kErrRefused; });
    }
    int adjustRecordingSignalVolume(int volume) override
    {
        if (const int code = call("adjustRecordingSignalVolume", volume))
            return code;
        if (!isValidVolume(volume))
            return kErrInvalidArgument;
        locked([volume](State& s) { s.now.volume = volume; });
        return kOk;
    }

protected:
    IRtcEngineParameter* createParameter() override { return new Parameter(); }
    IAudioDeviceManager* createDeviceManager() override { return new DeviceManager(); }

private:
    IRtcEngineEventHandler* m_handler = nullptr;
};

} // namespace

int ScriptedRtcBackend::Snapshot::count(const QString& key) const
{
    return int(
        std::count_if(calls.begin(), calls.end(), [&key](const QString& c) { return matches(key, c); }));
}

void ScriptedRtcBackend::setEnabled(bool enabled)
{
    RtcEngineBase::setEngineFactory(enabled ? RtcEngineBase::EngineFactory([] { return new Engine(); })
                                            : RtcEngineBase::EngineFactory());
}

void ScriptedRtcBackend::reset()
{
    locked([](State& s) {
        s.now = Snapshot{{}, {}, {}, false, false, false, 100, {}, s.now.liveEngines};
        s.failures.clear();
        s.devices = defaultDevices();
    });
}

ScriptedRtcBackend::Snapshot ScriptedRtcBackend::snapshot()
{
    return locked([](State& s) { return s.now; });
}

void ScriptedRtcBackend::clearCalls()
{
    locked([](State& s) { s.now.calls.clear(); });
}

void ScriptedRtcBackend::setRecordingDevices(const QList<Device>& devices)
{
    locked([&devices](State& s) { s.devices = devices; });
}

void ScriptedRtcBackend::failCall(const QString& key, int code, int times)
{
    if (times != 0)
        locked([&](State& s) { s.failures.append({key, code, times < 0 ? -1 : times}); });
}

void ScriptedRtcBackend::clearFailures()
{
    locked([](State& s) { s.failures.clear(); });
}

bool ScriptedRtcBackend::withEventHandler(const std::function<void(IRtcEngineEventHandler*)>& fn)
{
    IRtcEngineEventHandler* handler =
        locked([](State& s) { return s.handlers.isEmpty() ? nullptr : *s.handlers.last(); });
    if (handler && fn)
        fn(handler);
    return handler != nullptr;
}

} // namespace rtc
} // namespace agora
