#pragma once

#include <cstdint>

// Plain records and constants shared by the engine, its sub-interfaces and the callback
// interface. Field order is part of the contract: the event handler logs records field by
// field in declaration order.
namespace agora {
namespace rtc {

class IRtcEngineEventHandler;

// Result codes: 0 is success, every failure is negative.
enum ResultCode : int
{
    kOk = 0,
    kErrFailed = -1,          // generic failure
    kErrInvalidArgument = -2, // empty, malformed or out-of-range argument
    kErrNotReady = -3,        // engine not initialised, or not in a channel
    kErrNotSupported = -4,    // operation this SDK does not offer
    kErrRefused = -5,         // unknown device, duplicate stream URL and the like
    kErrNoDevice = -6,        // no capture device at all
    kErrNotInitialized = -7,  // called before initialize()
};

// Ids for IRtcEngine::queryInterface.
enum InterfaceId : int
{
    kInterfaceAudioDeviceManager = 1,
    kInterfaceEngineParameter = 3,
};

enum ChannelProfile : int
{
    kChannelProfileCommunication = 0,
    kChannelProfileLiveBroadcasting = 1
};
enum ClientRole : int
{
    kClientRoleBroadcaster = 1,
    kClientRoleAudience = 2
};
// Audio profile 5: music, high quality, stereo. Scenario 3: game streaming.
enum AudioProfile : int
{
    kAudioProfileDefault = 0,
    kAudioProfileMusicHighQualityStereo = 5
};
enum AudioScenario : int
{
    kAudioScenarioDefault = 0,
    kAudioScenarioGameStreaming = 3
};

// States and error codes of onRtmpStreamingStateChanged.
enum RtmpStreamingState : int
{
    kRtmpStateIdle = 0,
    kRtmpStateConnecting = 1,
    kRtmpStateRunning = 2,
    kRtmpStateRecovering = 3,
    kRtmpStateFailure = 4,
};
enum RtmpStreamingError : int
{
    kRtmpErrorOk = 0,
    kRtmpErrorInvalidUrl = 1,        // empty or not rtmp://host/application/stream
    kRtmpErrorConnectionFailed = 2,  // nothing listening, unknown host, no answer
    kRtmpErrorServerRejected = 3,    // the server answered but refused the stream
    kRtmpErrorConnectionLost = 4,    // the server closed or dropped a running stream
    kRtmpErrorInternal = 5,          // the encoder or muxer could not be set up
    kRtmpErrorNoAcknowledgement = 6, // the server stopped acknowledging what it was sent
};

// Device types and states of onAudioDeviceStateChanged.
enum MediaDeviceType : int
{
    kAudioPlayoutDevice = 0,
    kAudioRecordingDevice = 1,
};
enum MediaDeviceState : int
{
    kDeviceStateActive = 1,
    kDeviceStateUnplugged = 8,
};

// States and errors of onLocalAudioStateChanged.
enum LocalAudioState : int
{
    kLocalAudioStopped = 0,
    kLocalAudioRecording = 1,
    kLocalAudioEncoding = 2,
    kLocalAudioFailed = 3,
};
enum LocalAudioError : int
{
    kLocalAudioErrorOk = 0,
    kLocalAudioErrorFailure = 1,
    kLocalAudioErrorRecordingFailure = 4, // capture device vanished or failed
    kLocalAudioErrorNoDevice = 6,
};

// Error codes of onError raised by this SDK.
enum SdkError : int
{
    kSdkErrorAudioCaptureFailed = 1018,
};

// Size of the name and id buffers of IAudioDeviceCollection::getDevice.
constexpr int kMaxDeviceIdLength = 512;

struct LogConfig
{
    const char* filePath = nullptr; // no file: the SDK's own default
    int fileSize = -1;              // -1: the SDK's default size
    int level = 1;                  // 1 = info
};

struct RtcEngineContext
{
    IRtcEngineEventHandler* eventHandler = nullptr;
    const char* appId = nullptr;
    void* context = nullptr;
    unsigned int areaCode = 0xFFFFFFFFu; // global
    LogConfig logConfig;
};

struct RtcStats
{
    unsigned int duration = 0; // seconds in the channel
    unsigned int txBytes = 0;
    unsigned int rxBytes = 0;
    unsigned int txAudioBytes = 0;
    unsigned int txVideoBytes = 0;
    unsigned int rxAudioBytes = 0;
    unsigned int rxVideoBytes = 0;
    unsigned short txKBitRate = 0;
    unsigned short rxKBitRate = 0;
    unsigned short rxAudioKBitRate = 0;
    unsigned short txAudioKBitRate = 0;
    unsigned short rxVideoKBitRate = 0;
    unsigned short txVideoKBitRate = 0;
    unsigned short lastmileDelay = 0;
    unsigned short txPacketLossRate = 0;
    unsigned short rxPacketLossRate = 0;
    unsigned int userCount = 0;
    double cpuAppUsage = 0.0;
    double cpuTotalUsage = 0.0;
};

struct LocalAudioStats
{
    int numChannels = 0;
    int sentSampleRate = 0;
    int sentBitrate = 0; // kbit/s
};

struct LastmileProbeOneWay
{
    unsigned int packetLossRate = 0;
    unsigned int jitter = 0;
    unsigned int availableBandwidth = 0;
};

struct LastmileProbeResult
{
    int state = 0;
    LastmileProbeOneWay uplinkReport;
    LastmileProbeOneWay downlinkReport;
    unsigned int rtt = 0;
};

struct LocalVideoStats
{
    int sentBitrate = 0;
    int sentFrameRate = 0;
    int encoderOutputFrameRate = 0;
    int rendererOutputFrameRate = 0;
    int targetBitrate = 0;
    int targetFrameRate = 0;
    int qualityAdaptation = 0;
    int encodedBitrate = 0;
    int encodedFrameWidth = 0;
    int encodedFrameHeight = 0;
    int encodedFrameCount = 0;
    int codecType = 0;
};

struct RemoteVideoStats
{
    unsigned int uid = 0;
    int delay = 0;
    int width = 0;
    int height = 0;
    int receivedBitrate = 0;
    int decoderOutputFrameRate = 0;
    int rendererOutputFrameRate = 0;
    int packetLossRate = 0;
    int streamType = 0;
    int totalFrozenTime = 0;
    int frozenRate = 0;
};

struct RemoteAudioStats
{
    unsigned int uid = 0;
    int quality = 0;
    int networkTransportDelay = 0;
    int jitterBufferDelay = 0;
    int audioLossRate = 0;
    int numChannels = 0;
    int receivedSampleRate = 0;
    int receivedBitrate = 0;
    int totalFrozenTime = 0;
    int frozenRate = 0;
};

struct AudioVolumeInfo
{
    unsigned int uid = 0;
    unsigned int volume = 0; // 0..255
    unsigned int vad = 0;    // 1 when voice is detected
};

constexpr int kMaxUserAccountLength = 256;

struct UserInfo
{
    unsigned int uid = 0;
    char userAccount[kMaxUserAccountLength] = {};
};

} // namespace rtc
} // namespace agora
