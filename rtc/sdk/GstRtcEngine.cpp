#include "rtc/sdk/GstRtcEngine.h"

namespace agora {
namespace rtc {

GstRtcEngine::GstRtcEngine() = default;
GstRtcEngine::~GstRtcEngine() = default;

int GstRtcEngine::initialize(const RtcEngineContext&)
{
    return kErrNotSupported;
}
int GstRtcEngine::setLogFile(const char*)
{
    return kErrNotSupported;
}
int GstRtcEngine::disableVideo()
{
    return kErrNotSupported;
}
int GstRtcEngine::enableAudio()
{
    return kErrNotSupported;
}
int GstRtcEngine::setChannelProfile(int)
{
    return kErrNotSupported;
}
int GstRtcEngine::setClientRole(int)
{
    return kErrNotSupported;
}
int GstRtcEngine::setAudioProfile(int, int)
{
    return kErrNotSupported;
}
int GstRtcEngine::queryInterface(int, void**)
{
    return kErrNotSupported;
}
int GstRtcEngine::muteAllRemoteAudioStreams(bool)
{
    return kErrNotSupported;
}
int GstRtcEngine::muteLocalAudioStream(bool)
{
    return kErrNotSupported;
}
int GstRtcEngine::enableWebSdkInteroperability(bool)
{
    return kErrNotSupported;
}
int GstRtcEngine::joinChannel(const char*, const char*, const char*, unsigned int)
{
    return kErrNotSupported;
}
int GstRtcEngine::leaveChannel()
{
    return kErrNotSupported;
}
int GstRtcEngine::addPublishStreamUrl(const char*, bool)
{
    return kErrNotSupported;
}
int GstRtcEngine::removePublishStreamUrl(const char*)
{
    return kErrNotSupported;
}
int GstRtcEngine::adjustRecordingSignalVolume(int)
{
    return kErrNotSupported;
}

} // namespace rtc
} // namespace agora
