#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

namespace agora {
namespace rtc {

class IRtcEngineEventHandler;

// Deterministic stand-in for the media backend, for the tests of the layers above the SDK.
// - setEnabled(true) makes createAgoraRtcEngine() hand out scripted engines until
//   setEnabled(false); reset() clears the state, not the choice.
// - Every call (but a sub-interface's release) is logged as "name(arg, ...)", a null text as
//   "null"; Snapshot::count(key) counts a bare name ("joinChannel") or a whole text
//   ("queryInterface(3)"). failCall(key, code[, times]) makes matching calls return code (a
//   failing query hands out nothing).
// - Otherwise calls succeed and move the state as the real engine does; what it would refuse
//   (an empty channel, a non-rtmp:// or doubled address, an unknown device, a volume outside
//   0..400) is refused. Leaving ends the mute and the relays.
// - No callbacks of its own: withEventHandler() lends the newest live engine's handler (false
//   when there is none). Thread-safe.
class ScriptedRtcBackend
{
public:
    struct Device
    {
        QString name;
        QString id;
    };

    struct Snapshot
    {
        QStringList calls;
        QStringList parameters;  // every text setParameters accepted
        QString recordingDevice; // last id setRecordingDevice accepted
        bool joined = false;
        bool deviceTest = false; // between startRecordingDeviceTest and stopRecordingDeviceTest
        bool localMuted = false;
        int volume = 100;
        QStringList publishedUrls;
        int liveEngines = 0;

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
    static void clearFailures();

    static bool withEventHandler(const std::function<void(IRtcEngineEventHandler*)>& fn);
};

} // namespace rtc
} // namespace agora
