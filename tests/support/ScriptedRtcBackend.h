#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

namespace agora {
namespace rtc {

class IRtcEngineEventHandler;

// Deterministic stand-in for the media backend, for tests of the code above the SDK.
//
// Selection: ScriptedRtcBackend::setEnabled(true) before the engine is created installs the SDK
// layer's engine factory, so createAgoraRtcEngine() returns scripted engines; setEnabled(false)
// restores the real backend, the default.
//
// Call log: every SDK call a scripted engine or one of its sub-interfaces receives is recorded
// as one text "name(arg1, arg2, ...)", in call order:
//   - texts as they are (no quotes), a null text as "null"; bools "true"/"false"; ints decimal;
//   - createAgoraRtcEngine(), initialize(<appId>, <areaCode>, <logLevel>, handler|null),
//     setLogFile(<path>), disableVideo(), enableAudio(), setChannelProfile(1), setClientRole(1),
//     setAudioProfile(5, 3), queryInterface(3) / queryInterface(1),
//     setParameters(<json>), muteAllRemoteAudioStreams(true), muteLocalAudioStream(false),
//     enableWebSdkInteroperability(true), joinChannel(<token>, <channel>, null, <uid>),
//     leaveChannel(), addPublishStreamUrl(<url>, false), removePublishStreamUrl(<url>),
//     adjustRecordingSignalVolume(<volume>), enumerateRecordingDevices(), getCount(),
//     getDevice(<index>), setRecordingDevice(<id>), startRecordingDeviceTest(<intervalMs>),
//     stopRecordingDeviceTest(),
//     IRtcEngineParameter::release(), IAudioDeviceCollection::release(),
//     IAudioDeviceManager::release(), IRtcEngine::release(<sync>).
//
// Failures: failCall(key, code) makes matching calls return code instead of succeeding. The key
// is either a bare name ("joinChannel": every call of it) or a whole call text
// ("queryInterface(3)", "getDevice(1)": only calls with exactly those arguments). A failing
// queryInterface writes no interface, a failing enumerateRecordingDevices returns null, a
// failing getDevice leaves the buffers untouched; void calls (release) ignore failures.
// A failing call is still recorded.
//
// The scripted engine raises no callbacks of its own; withEventHandler() lets a test raise any.
// All functions are thread-safe.
class ScriptedRtcBackend
{
public:
    struct Device
    {
        QString name;
        QString id;
    };

    static void setEnabled(bool enabled);
    static bool isEnabled();

    // Clears the call log, the failures and the engine state, restores defaultDevices().
    // Does not change whether the backend is enabled.
    static void reset();

    // Devices listed by enumerateRecordingDevices, in this order; setRecordingDevice accepts
    // exactly these ids (any other id gives -5).
    static void setRecordingDevices(const QList<Device>& devices);
    static QList<Device> recordingDeviceList();
    // Two devices: {"Monitor of Null Output", "tavio_null.monitor"} and
    // {"USB Microphone (default)", "alsa_input.usb-mic.analog-stereo"}.
    static QList<Device> defaultDevices();

    static QStringList calls();
    static void clearCalls();
    // Number of recorded calls matching key (same matching as failCall).
    static int callCount(const QString& key);

    // times < 0: fail until clearFailures(); otherwise only the next `times` matching calls.
    static void failCall(const QString& key, int code, int times = -1);
    static void clearFailures();

    // State kept by the scripted engines (shared by all of them).
    static QString recordingDevice(); // last id accepted by setRecordingDevice, empty at first
    static bool isJoined();
    // Between a successful startRecordingDeviceTest and stopRecordingDeviceTest.
    static bool isDeviceTestRunning();
    static bool isLocalAudioMuted();
    static int recordingVolume(); // 100 at first
    static QStringList publishedUrls();
    static int liveEngineCount();

    // Calls fn on the calling thread with the handler given to initialize() of the newest live
    // engine; false (fn not called) when there is none.
    static bool withEventHandler(const std::function<void(IRtcEngineEventHandler*)>& fn);
};

} // namespace rtc
} // namespace agora
