#include "rtc/sdk/ScriptedRtcBackend.h"

#include "rtc/sdk/ScriptedRtcEngine.h"
#include "rtc/sdk/ScriptedRtcState.h"

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

bool enabledFromEnvironment()
{
    return qgetenv("TAVIO_RTC_BACKEND") == "scripted";
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
    ScriptedRtcState& state = ScriptedRtcState::get();
    QMutexLocker lock(&state.mutex);
    state.enabled = enabled ? 1 : 0;
}

bool ScriptedRtcBackend::isEnabled()
{
    ScriptedRtcState& state = ScriptedRtcState::get();
    QMutexLocker lock(&state.mutex);
    if (state.enabled < 0)
        state.enabled = enabledFromEnvironment() ? 1 : 0;
    return state.enabled == 1;
}

void ScriptedRtcBackend::reset()
{
    ScriptedRtcState& state = ScriptedRtcState::get();
    QMutexLocker lock(&state.mutex);
    state.calls.clear();
    state.failures.clear();
    state.devices = defaultDevices();
    state.recordingDevice.clear();
    state.joined = false;
    state.localMuted = false;
    state.volume = 100;
    state.publishedUrls.clear();
}

void ScriptedRtcBackend::setRecordingDevices(const QList<Device>& devices)
{
    ScriptedRtcState& state = ScriptedRtcState::get();
    QMutexLocker lock(&state.mutex);
    state.devices = devices;
}

QList<ScriptedRtcBackend::Device> ScriptedRtcBackend::recordingDeviceList()
{
    ScriptedRtcState& state = ScriptedRtcState::get();
    QMutexLocker lock(&state.mutex);
    return state.devices;
}

QList<ScriptedRtcBackend::Device> ScriptedRtcBackend::defaultDevices()
{
    return {{QStringLiteral("Monitor of Null Output"), QStringLiteral("tavio_null.monitor")},
            {QStringLiteral("USB Microphone (default)"), QStringLiteral("alsa_input.usb-mic.analog-stereo")}};
}

QStringList ScriptedRtcBackend::calls()
{
    ScriptedRtcState& state = ScriptedRtcState::get();
    QMutexLocker lock(&state.mutex);
    return state.calls;
}

void ScriptedRtcBackend::clearCalls()
{
    ScriptedRtcState& state = ScriptedRtcState::get();
    QMutexLocker lock(&state.mutex);
    state.calls.clear();
}

int ScriptedRtcBackend::callCount(const QString& key)
{
    ScriptedRtcState& state = ScriptedRtcState::get();
    QMutexLocker lock(&state.mutex);
    int count = 0;
    for (const QString& call : qAsConst(state.calls)) {
        if (keyMatches(key, call))
            ++count;
    }
    return count;
}

void ScriptedRtcBackend::failCall(const QString& key, int code, int times)
{
    if (times == 0)
        return;
    ScriptedRtcState& state = ScriptedRtcState::get();
    QMutexLocker lock(&state.mutex);
    state.failures.append({key, code, times < 0 ? -1 : times});
}

void ScriptedRtcBackend::clearFailures()
{
    ScriptedRtcState& state = ScriptedRtcState::get();
    QMutexLocker lock(&state.mutex);
    state.failures.clear();
}

QString ScriptedRtcBackend::recordingDevice()
{
    ScriptedRtcState& state = ScriptedRtcState::get();
    QMutexLocker lock(&state.mutex);
    return state.recordingDevice;
}

bool ScriptedRtcBackend::isJoined()
{
    ScriptedRtcState& state = ScriptedRtcState::get();
    QMutexLocker lock(&state.mutex);
    return state.joined;
}

bool ScriptedRtcBackend::isLocalAudioMuted()
{
    ScriptedRtcState& state = ScriptedRtcState::get();
    QMutexLocker lock(&state.mutex);
    return state.localMuted;
}

int ScriptedRtcBackend::recordingVolume()
{
    ScriptedRtcState& state = ScriptedRtcState::get();
    QMutexLocker lock(&state.mutex);
    return state.volume;
}

QStringList ScriptedRtcBackend::publishedUrls()
{
    ScriptedRtcState& state = ScriptedRtcState::get();
    QMutexLocker lock(&state.mutex);
    return state.publishedUrls;
}

int ScriptedRtcBackend::liveEngineCount()
{
    ScriptedRtcState& state = ScriptedRtcState::get();
    QMutexLocker lock(&state.mutex);
    return state.engines.size();
}

bool ScriptedRtcBackend::withEventHandler(const std::function<void(IRtcEngineEventHandler*)>& fn)
{
    IRtcEngineEventHandler* handler = nullptr;
    {
        ScriptedRtcState& state = ScriptedRtcState::get();
        QMutexLocker lock(&state.mutex);
        if (!state.engines.isEmpty())
            handler = state.engines.last()->eventHandler();
    }
    if (!handler || !fn)
        return false;
    fn(handler);
    return true;
}

} // namespace rtc
} // namespace agora
