#include "support/ScriptedRtcBackend.h"

#include "support/ScriptedRtcEngine.h"
#include "support/ScriptedRtcState.h"

#include <QMutexLocker>

namespace agora {
namespace rtc {

ScriptedRtcState& ScriptedRtcState::get()
{
    static ScriptedRtcState state;
    return state;
}

namespace {
bool keyMatches(const QString& key, const QString& call)
{
    if (key == call)
        return true;
    const int paren = call.indexOf(QLatin1Char('('));
    return paren > 0 && key == call.left(paren);
}

template <typename T> T readState(T ScriptedRtcState::*member)
{
    return ScriptedRtcState::locked([member](ScriptedRtcState& state) { return state.*member; });
}
} // namespace

namespace scripted {
int record(const QString& name, const QStringList& args)
{
    const QString call = name + QLatin1Char('(') + args.join(QLatin1String(", ")) + QLatin1Char(')');
    ScriptedRtcState& state = ScriptedRtcState::get();
    QMutexLocker lock(&state.mutex);
    state.calls.append(call);
    for (int i = 0; i < state.failures.size(); ++i) {
        ScriptedRtcState::Failure& failure = state.failures[i];
        if (!keyMatches(failure.key, call))
            continue;
        const int code = failure.code;
        if (failure.times > 0 && --failure.times == 0)
            state.failures.removeAt(i);
        return code;
    }
    return 0;
}

QString text(const char* value)
{
    return value ? QString::fromUtf8(value) : QStringLiteral("null");
}

QString flag(bool value)
{
    return value ? QStringLiteral("true") : QStringLiteral("false");
}
} // namespace scripted

void ScriptedRtcBackend::setEnabled(bool enabled)
{
    ScriptedRtcState::locked([enabled](ScriptedRtcState& state) { state.enabled = enabled; });
    if (enabled)
        RtcEngineBase::setEngineFactory([]() -> RtcEngineBase* { return new ScriptedRtcEngine(); });
    else
        RtcEngineBase::setEngineFactory({});
}

bool ScriptedRtcBackend::isEnabled()
{
    return ScriptedRtcState::locked([](ScriptedRtcState& state) { return state.enabled; });
}

void ScriptedRtcBackend::reset()
{
    ScriptedRtcState::locked([](ScriptedRtcState& state) {
        state.calls.clear();
        state.failures.clear();
        state.devices = defaultDevices();
        state.recordingDevice.clear();
        state.joined = false;
        state.deviceTest = false;
        state.localMuted = false;
        state.volume = 100;
        state.publishedUrls.clear();
    });
}

void ScriptedRtcBackend::setRecordingDevices(const QList<Device>& devices)
{
    ScriptedRtcState::locked([&devices](ScriptedRtcState& state) { state.devices = devices; });
}

QList<ScriptedRtcBackend::Device> ScriptedRtcBackend::recordingDeviceList()
{
    return readState(&ScriptedRtcState::devices);
}

QList<ScriptedRtcBackend::Device> ScriptedRtcBackend::defaultDevices()
{
    return {{QStringLiteral("Monitor of Null Output"), QStringLiteral("tavio_null.monitor")},
            {QStringLiteral("USB Microphone (default)"), QStringLiteral("alsa_input.usb-mic.analog-stereo")}};
}

QStringList ScriptedRtcBackend::calls()
{
    return readState(&ScriptedRtcState::calls);
}

void ScriptedRtcBackend::clearCalls()
{
    ScriptedRtcState::locked([](ScriptedRtcState& state) { state.calls.clear(); });
}

int ScriptedRtcBackend::callCount(const QString& key)
{
    int count = 0;
    for (const QString& call : calls()) {
        if (keyMatches(key, call))
            ++count;
    }
    return count;
}

void ScriptedRtcBackend::failCall(const QString& key, int code, int times)
{
    if (times == 0)
        return;
    ScriptedRtcState::locked([&](ScriptedRtcState& state) {
        state.failures.append({key, code, times < 0 ? -1 : times});
    });
}

void ScriptedRtcBackend::clearFailures()
{
    ScriptedRtcState::locked([](ScriptedRtcState& state) { state.failures.clear(); });
}

bool ScriptedRtcBackend::isDeviceTestRunning()
{
    return readState(&ScriptedRtcState::deviceTest);
}

QString ScriptedRtcBackend::recordingDevice()
{
    return readState(&ScriptedRtcState::recordingDevice);
}

bool ScriptedRtcBackend::isJoined()
{
    return readState(&ScriptedRtcState::joined);
}

bool ScriptedRtcBackend::isLocalAudioMuted()
{
    return readState(&ScriptedRtcState::localMuted);
}

int ScriptedRtcBackend::recordingVolume()
{
    return readState(&ScriptedRtcState::volume);
}

QStringList ScriptedRtcBackend::publishedUrls()
{
    return readState(&ScriptedRtcState::publishedUrls);
}

int ScriptedRtcBackend::liveEngineCount()
{
    return readState(&ScriptedRtcState::engines).size();
}

bool ScriptedRtcBackend::withEventHandler(const std::function<void(IRtcEngineEventHandler*)>& fn)
{
    IRtcEngineEventHandler* handler = ScriptedRtcState::locked([](ScriptedRtcState& state) {
        return state.engines.isEmpty() ? nullptr : state.engines.last()->eventHandler();
    });
    if (!handler || !fn)
        return false;
    fn(handler);
    return true;
}

} // namespace rtc
} // namespace agora
