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
    int code, times;
};

const Devices kDefaultDevices = {{"Monitor of Null Output", "tavio_null.monitor"},
                                 {"USB Microphone (default)", "usb.mic"}};

struct State
{
    QMutex mutex;
    Snapshot now;
    Devices devices = kDefaultDevices;
    QList<Failure> failures;
    QList<IRtcEngineEventHandler**> handlers; // one per live engine, oldest first
    bool relayAnswers = true;
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

// A scripted failure wins; otherwise change decides (with the state locked) and returns the code.
template <typename Fn> int unlessFailed(int code, Fn change)
{
    return code != kOk ? code : locked(change);
}

class Parameter : public IRtcEngineParameter
{
public:
    int setParameters(const char* json) override
    {
        if (const int code = call("setParameters", json))
            return code;
        // As the real backend: one JSON object per call.
        return json && QJsonDocument::fromJson(json).isObject() ? kOk : kErrInvalidArgument;
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
        return unlessFailed(call("setRecordingDevice", id), [id](State& s) {
            for (const ScriptedRtcBackend::Device& device : qAsConst(s.devices))
                if (id && *id && device.id == QString::fromUtf8(id)) {
                    s.now.recordingDevice = device.id;
                    return int(kOk);
                }
            return int(kErrRefused);
        });
    }
    int startRecordingDeviceTest(int ms) override { return test(call("startRecordingDeviceTest", ms), true); }
    int stopRecordingDeviceTest() override { return test(call("stopRecordingDeviceTest"), false); }
    void release() override { delete this; }

private:
    static int test(int code, bool on)
    {
        return unlessFailed(code, [on](State& s) { return s.now.deviceTest = on, int(kOk); });
    }
};

class Engine : public RtcEngineBase
{
public:
    Engine()
    {
        call("createAgoraRtcEngine");
        locked([this](State& s) { s.handlers.append(&m_handler), ++s.now.liveEngines; });
    }
    ~Engine() override
    {
        locked([this](State& s) {
            s.handlers.removeAll(&m_handler);
            if (--s.now.liveEngines == 0)
                s.now.joined = s.now.deviceTest = false, s.now.publishedUrls.clear();
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
    int setAudioProfile(int profile, int scene) override { return call("setAudioProfile", profile, scene); }
    int queryInterface(int id, void** inter) override
    {
        const int code = call("queryInterface", id);
        return code ? code : RtcEngineBase::queryInterface(id, inter);
    }
    int muteAllRemoteAudioStreams(bool mute) override { return call("muteAllRemoteAudioStreams", mute); }
    int muteLocalAudioStream(bool mute) override
    {
        return unlessFailed(call("muteLocalAudioStream", mute),
                            [mute](State& s) { return s.now.localMuted = mute, int(kOk); });
    }
    int enableWebSdkInteroperability(bool on) override { return call("enableWebSdkInteroperability", on); }
    int joinChannel(const char* token, const char* channel, const char* info, unsigned int uid) override
    {
        return unlessFailed(call("joinChannel", token, channel, info, uid), [channel](State& s) {
            if (!channel || !*channel)
                return int(kErrInvalidArgument);
            return s.now.joined = true, int(kOk);
        });
    }
    int leaveChannel() override
    {
        return unlessFailed(call("leaveChannel"), [](State& s) {
            s.now.joined = s.now.localMuted = false; // the mute ends with the stay
            s.now.publishedUrls.clear();
            return int(kOk);
        });
    }
    int addPublishStreamUrl(const char* url, bool transcoding) override
    {
        const QString address = QString::fromUtf8(url ? url : "");
        bool answers = false;
        const int r = unlessFailed(call("addPublishStreamUrl", url, transcoding), [&](State& s) {
            if (!address.startsWith(QLatin1String("rtmp://")))
                return int(kErrInvalidArgument);
            if (s.now.publishedUrls.contains(address))
                return int(kErrRefused);
            s.now.publishedUrls << address;
            answers = s.relayAnswers;
            return int(kOk);
        });
        if (answers && m_handler) // a server that takes the stream at once
            m_handler->onRtmpStreamingStateChanged(address.toUtf8().constData(), kRtmpStateRunning, kRtmpErrorOk);
        return r;
    }
    int removePublishStreamUrl(const char* url) override
    {
        const QString address = QString::fromUtf8(url ? url : "");
        return unlessFailed(call("removePublishStreamUrl", url), [&address](State& s) {
            return int(s.now.publishedUrls.removeAll(address) ? kOk : kErrRefused);
        });
    }
    int adjustRecordingSignalVolume(int volume) override
    {
        return unlessFailed(call("adjustRecordingSignalVolume", volume), [volume](State& s) {
            if (!isValidVolume(volume))
                return int(kErrInvalidArgument);
            return s.now.volume = volume, int(kOk);
        });
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
        const int live = s.now.liveEngines;
        s.now = Snapshot();
        s.now.liveEngines = live;
        s.failures.clear();
        s.devices = kDefaultDevices;
        s.relayAnswers = true;
    });
}

void ScriptedRtcBackend::setRelayAnswers(bool answers)
{
    locked([answers](State& s) { s.relayAnswers = answers; });
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
