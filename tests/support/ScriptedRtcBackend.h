#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

namespace agora {
namespace rtc {

class IRtcEngineEventHandler;

// Deterministic stand-in for the media backend, for the tests of the layers above the SDK.
// - setEnabled(true) before an engine is created makes createAgoraRtcEngine() hand out scripted
//   engines, setEnabled(false) the real ones again. reset() clears the state but not the choice.
// - Every call an engine or its sub-interfaces receive is logged as "name(arg, ...)" (texts as
//   they are, a null text "null", bools "true"/"false"); Snapshot::count(key) counts the calls
//   of a bare name ("joinChannel") or of a whole text ("queryInterface(3)").
// - failCall(key, code[, times]) makes matching calls return code (they are still logged); a
//   failing queryInterface hands out nothing, a failing enumerateRecordingDevices null.
// - Otherwise a call succeeds and moves the state the way the real engine does: leaving ends the
//   mute and the relays; an empty channel, an address that is not rtmp:// or already relayed, an
//   unknown device id or a volume outside 0..400 is refused.
// - The engines raise no callbacks of their own: withEventHandler() lends a test the handler of
//   the newest live engine (false when there is none). Everything is thread-safe.
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

    // Listed by enumerateRecordingDevices in this order; at first two, the default last:
    // {"Monitor of Null Output", "tavio_null.monitor"}, {"USB Microphone (default)", "usb.mic"}.
    static void setRecordingDevices(const QList<Device>& devices);
    // times < 0: until clearFailures(); otherwise the next `times` matching calls only.
    static void failCall(const QString& key, int code, int times = -1);
    static void clearFailures();

    static bool withEventHandler(const std::function<void(IRtcEngineEventHandler*)>& fn);
};

} // namespace rtc
} // namespace agora
