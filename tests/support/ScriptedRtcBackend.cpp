#include "support/ScriptedRtcBackend.h"

#include "rtc/sdk/RtcEngineBase.h"

#include <QJsonDocument>
#include <QMutex>
#include <QMutexLocker>

namespace agora {
namespace rtc {

namespace {

struct Failure
{
    QString key;
    int code;
    int times;
};

QList<ScriptedRtcBackend::Device> defaultDevices()
{
    return {{QStringLiteral("Monitor of Null Output"), QStringLiteral("tavio_null.monitor")},
            {QStringLiteral("USB Microphone (default)"), QStringLiteral("usb.mic")}};
}

struct State
{
    QMutex mutex;
    ScriptedRtcBackend::Snapshot now;
    QList<ScriptedRtcBackend::Device> devices = defaultDevices();
    QList<Failure> failures;
    QList<IRtcEngineEventHandler**> handlers; // one per live engine, oldest first
};

State& state()
{
    static State s;
    return s;
}

bool matches(const QString& key, const QString& call)
{
    return key == call || key == call.left(call.indexOf(QLatin1Char('(')));
}

QString text(const char* value)
{
    return value ? QString::fromUtf8(value) : QStringLiteral("null");
}

QString flag(bool value)
{
    return value ? QStringLiteral("true") : QStringLiteral("false");
}

// Logs one call; runs change (state locked) unless a failure is scripted for it. Returns the
// scripted code, else what change returns.
int call(const QString& name, const QStringList& args = {}, const std::function<int(State&)>& change = {})
{
    State& s = state();
    QMutexLocker lock(&s.mutex);
    const QString text = name + QLatin1Char('(') + args.join(QLatin1String(", ")) + QLatin1Char(')');
    s.now.calls.append(text);
    for (int i = 0; i < s.failures.size(); ++i) {
        if (!matches(s.failures[i].key, text))
            continue;
        const int code = s.failures[i].code;
        if (s.failures[i].times > 0 && --s.failures[i].times == 0)
            s.failures.removeAt(i);
        return code;
    }
    return change ? change(s) : int(kOk);
}

class Parameter : public IRtcEngineParameter
{
public:
    int setParameters(const char* json) override
    {
        return call(QStringLiteral("setParameters"), {text(json)}, [json](State& s) {
            // As the real backend: one JSON object per call.
            if (!json || !QJsonDocument::fromJson(json).isObject())
                return int(kErrInvalidArgument);
            s.now.parameters << QString::fromUtf8(json);
            return int(kOk);
        });
    }
    void release() override
    {
        call(QStringLiteral("IRtcEngineParameter::release"));
        delete this;
    }
};

class Collection : public IAudioDeviceCollection
{
public:
    explicit Collection(const QList<ScriptedRtcBackend::Device>& devices) : m_devices(devices) {}
    int getCount() override
    {
        return call(QStringLiteral("getCount"), {}, [this](State&) { return int(m_devices.size()); });
    }
    int getDevice(int index, char* name, char* id) override
    {
        return call(QStringLiteral("getDevice"), {QString::number(index)}, [=](State&) {
            if (index < 0 || index >= m_devices.size() || !name || !id)
                return int(kErrInvalidArgument);
            qstrncpy(name, m_devices.at(index).name.toUtf8().constData(), kMaxDeviceIdLength);
            qstrncpy(id, m_devices.at(index).id.toUtf8().constData(), kMaxDeviceIdLength);
            return int(kOk);
        });
    }
    void release() override
    {
        call(QStringLiteral("IAudioDeviceCollection::release"));
        delete this;
    }

private:
    QList<ScriptedRtcBackend::Device> m_devices;
};

class DeviceManager : public IAudioDeviceManager
{
public:
    IAudioDeviceCollection* enumerateRecordingDevices() override
    {
        QList<ScriptedRtcBackend::Device> devices;
        const int code = call(QStringLiteral("enumerateRecordingDevices"), {}, [&devices](State& s) {
            devices = s.devices;
            return int(kOk);
        });
        return code == kOk ? new Collection(devices) : nullptr;
    }
    int setRecordingDevice(const char* id) override
    {
        return call(QStringLiteral("setRecordingDevice"), {text(id)}, [id](State& s) {
            for (const ScriptedRtcBackend::Device& device : qAsConst(s.devices)) {
                if (id && *id && device.id == QString::fromUtf8(id)) {
                    s.now.recordingDevice = device.id;
                    return int(kOk);
                }
            }
            return int(kErrRefused);
        });
    }
    int startRecordingDeviceTest(int intervalMs) override
    {
        return call(QStringLiteral("startRecordingDeviceTest"), {QString::number(intervalMs)}, [](State& s) {
            s.now.deviceTest = true;
            return int(kOk);
        });
    }
    int stopRecordingDeviceTest() override
    {
        return call(QStringLiteral("stopRecordingDeviceTest"), {}, [](State& s) {
            s.now.deviceTest = false;
            return int(kOk);
        });
    }
    void release() override
    {
        call(QStringLiteral("IAudioDeviceManager::release"));
        delete this;
    }
};

class Engine : public RtcEngineBase
{
public:
    Engine()
    {
        call(QStringLiteral("createAgoraRtcEngine"), {}, [this](State& s) {
            s.handlers.append(&m_handler);
            ++s.now.liveEngines;
            return int(kOk);
        });
    }
    ~Engine() override
    {
        State& s = state();
        QMutexLocker lock(&s.mutex);
        s.handlers.removeAll(&m_handler);
        if (--s.now.liveEngines == 0) {
            s.now.joined = s.now.deviceTest = false;
            s.now.publishedUrls.clear();
        }
    }
    void aboutToRelease(bool sync) override { call(QStringLiteral("IRtcEngine::release"), {flag(sync)}); }

    int initialize(const RtcEngineContext& c) override
    {
        return call(QStringLiteral("initialize"),
                    {text(c.appId), QString::number(c.areaCode), QString::number(c.logConfig.level),
                     c.eventHandler ? QStringLiteral("handler") : QStringLiteral("null")},
                    [this, &c](State&) {
                        m_handler = c.eventHandler;
                        return int(kOk);
                    });
    }
    int setLogFile(const char* path) override { return call(QStringLiteral("setLogFile"), {text(path)}); }
    int disableVideo() override { return call(QStringLiteral("disableVideo")); }
    int enableAudio() override { return call(QStringLiteral("enableAudio")); }
    int setChannelProfile(int profile) override
    {
        return call(QStringLiteral("setChannelProfile"), {QString::number(profile)});
    }
    int setClientRole(int role) override
    {
        return call(QStringLiteral("setClientRole"), {QString::number(role)});
    }
    int setAudioProfile(int profile, int scenario) override
    {
        return call(QStringLiteral("setAudioProfile"), {QString::number(profile), QString::number(scenario)});
    }
    int queryInterface(int id, void** inter) override
    {
        const int code = call(QStringLiteral("queryInterface"), {QString::number(id)});
        return code != kOk ? code : RtcEngineBase::queryInterface(id, inter);
    }
    int muteAllRemoteAudioStreams(bool mute) override
    {
        return call(QStringLiteral("muteAllRemoteAudioStreams"), {flag(mute)});
    }
    int muteLocalAudioStream(bool mute) override
    {
        return call(QStringLiteral("muteLocalAudioStream"), {flag(mute)}, [mute](State& s) {
            s.now.localMuted = mute;
            return int(kOk);
        });
    }
    int enableWebSdkInteroperability(bool enabled) override
    {
        return call(QStringLiteral("enableWebSdkInteroperability"), {flag(enabled)});
    }
    int joinChannel(const char* token, const char* channel, const char* info, unsigned int uid) override
    {
        return call(QStringLiteral("joinChannel"),
                    {text(token), text(channel), text(info), QString::number(uid)}, [channel](State& s) {
                        if (!channel || !*channel)
                            return int(kErrInvalidArgument);
                        s.now.joined = true;
                        return int(kOk);
                    });
    }
    int leaveChannel() override
    {
        return call(QStringLiteral("leaveChannel"), {}, [](State& s) {
            s.now.joined = s.now.localMuted = false; // the mute ends with the stay
            s.now.publishedUrls.clear();
            return int(kOk);
        });
    }
    int addPublishStreamUrl(const char* url, bool transcoding) override
    {
        return call(QStringLiteral("addPublishStreamUrl"), {text(url), flag(transcoding)}, [url](State& s) {
            const QString address = QString::fromUtf8(url ? url : "");
            if (!address.startsWith(QLatin1String("rtmp://")))
                return int(kErrInvalidArgument);
            if (s.now.publishedUrls.contains(address))
                return int(kErrRefused);
            s.now.publishedUrls << address;
            return int(kOk);
        });
    }
    int removePublishStreamUrl(const char* url) override
    {
        return call(QStringLiteral("removePublishStreamUrl"), {text(url)}, [url](State& s) {
            return s.now.publishedUrls.removeAll(QString::fromUtf8(url ? url : "")) > 0 ? int(kOk)
                                                                                        : int(kErrRefused);
        });
    }
    int adjustRecordingSignalVolume(int volume) override
    {
        return call(QStringLiteral("adjustRecordingSignalVolume"), {QString::number(volume)},
                    [volume](State& s) {
                        if (!isValidVolume(volume))
                            return int(kErrInvalidArgument);
                        s.now.volume = volume;
                        return int(kOk);
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
    State& s = state();
    QMutexLocker lock(&s.mutex);
    const int engines = s.now.liveEngines;
    s.now = Snapshot();
    s.now.liveEngines = engines;
    s.failures.clear();
    s.devices = defaultDevices();
}

ScriptedRtcBackend::Snapshot ScriptedRtcBackend::snapshot()
{
    QMutexLocker lock(&state().mutex);
    return state().now;
}

void ScriptedRtcBackend::clearCalls()
{
    QMutexLocker lock(&state().mutex);
    state().now.calls.clear();
}

void ScriptedRtcBackend::setRecordingDevices(const QList<Device>& devices)
{
    QMutexLocker lock(&state().mutex);
    state().devices = devices;
}

void ScriptedRtcBackend::failCall(const QString& key, int code, int times)
{
    QMutexLocker lock(&state().mutex);
    if (times != 0)
        state().failures.append({key, code, times < 0 ? -1 : times});
}

void ScriptedRtcBackend::clearFailures()
{
    QMutexLocker lock(&state().mutex);
    state().failures.clear();
}

bool ScriptedRtcBackend::withEventHandler(const std::function<void(IRtcEngineEventHandler*)>& fn)
{
    IRtcEngineEventHandler* handler = nullptr;
    {
        QMutexLocker lock(&state().mutex);
        if (!state().handlers.isEmpty())
            handler = *state().handlers.last();
    }
    if (handler && fn)
        fn(handler);
    return handler != nullptr;
}

} // namespace rtc
} // namespace agora
