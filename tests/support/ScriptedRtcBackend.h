#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

namespace agora {
namespace rtc {

class IRtcEngineEventHandler;

// Deterministic stand-in for the media backend, thread-safe. Calls are logged as "name(arg, ...)";
// count(key) and failCall(key, code) take a bare name or a whole text. Unscripted calls succeed but
// for what the real engine refuses (empty channel, non-rtmp:// or doubled address, unknown device,
// volume outside 0..400). withEventHandler() lends the newest live engine's handler.
class ScriptedRtcBackend
{
public:
    struct Device
    {
        QString name, id;
    };

    struct Snapshot
    {
        QStringList calls;
        QString recordingDevice; // last id setRecordingDevice accepted
        bool joined = false, localMuted = false;
        bool deviceTest = false; // between startRecordingDeviceTest and stopRecordingDeviceTest
        int volume = 100, liveEngines = 0;
        QStringList publishedUrls;
        int count(const QString& key) const;
    };

    static void setEnabled(bool enabled);
    static void reset();
    static Snapshot snapshot();
    static int callCount(const QString& key) { return snapshot().count(key); }
    static void clearCalls();

    // Listed in this order; after reset() a monitor and "USB Microphone (default)", "usb.mic".
    static void setRecordingDevices(const QList<Device>& devices);
    // times < 0: until clearFailures(); otherwise the next `times` matching calls only.
    static void failCall(const QString& key, int code, int times = -1);
    // Whether a published address reports its relay running at once (the default, as a server that
    // takes the stream); without, the test raises the relay's events itself.
    static void setRelayAnswers(bool answers);
    static void clearFailures();

    static bool withEventHandler(const std::function<void(IRtcEngineEventHandler*)>& fn);
};

} // namespace rtc
} // namespace agora
