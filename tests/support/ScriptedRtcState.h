#pragma once

#include "support/ScriptedRtcBackend.h"

#include <QList>
#include <QMutex>
#include <QMutexLocker>
#include <QStringList>

namespace agora {
namespace rtc {

class ScriptedRtcEngine;

// The scripted backend's process-wide state, shared by its engines and its control API.
struct ScriptedRtcState
{
    struct Failure
    {
        QString key;
        int code = 0;
        int times = -1;
    };

    static ScriptedRtcState& get();
    // Runs fn on the state with its mutex held; returns what fn returns.
    template <typename Fn> static auto locked(Fn fn) -> decltype(fn(get()))
    {
        ScriptedRtcState& state = get();
        QMutexLocker lock(&state.mutex);
        return fn(state);
    }

    QMutex mutex;
    bool enabled = false;
    QStringList calls;
    QList<Failure> failures;
    QList<ScriptedRtcBackend::Device> devices = ScriptedRtcBackend::defaultDevices();
    QString recordingDevice;
    bool joined = false;
    bool deviceTest = false;
    bool localMuted = false;
    int volume = 100;
    QStringList publishedUrls;
    QList<ScriptedRtcEngine*> engines;
};

} // namespace rtc
} // namespace agora
