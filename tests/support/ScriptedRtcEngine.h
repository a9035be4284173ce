#pragma once

#include "rtc/sdk/RtcEngineBase.h"

#include <QString>
#include <QStringList>

namespace agora {
namespace rtc {

// The engine of the scripted backend (see ScriptedRtcBackend.h): records, fails on request,
// keeps a little state, never raises callbacks on its own.
class ScriptedRtcEngine : public RtcEngineBase
{
public:
    ScriptedRtcEngine();
    ~ScriptedRtcEngine() override;

    IRtcEngineEventHandler* eventHandler() const { return m_handler; }
    void aboutToRelease(bool sync) override;

    int initialize(const RtcEngineContext& context) override;
    int setLogFile(const char* filePath) override;
    int disableVideo() override;
    int enableAudio() override;
    int setChannelProfile(int profile) override;
    int setClientRole(int role) override;
    int setAudioProfile(int profile, int scenario) override;
    int queryInterface(int interfaceId, void** inter) override;
    int muteAllRemoteAudioStreams(bool mute) override;
    int muteLocalAudioStream(bool mute) override;
    int enableWebSdkInteroperability(bool enabled) override;
    int joinChannel(const char* token, const char* channelId, const char* info, unsigned int uid) override;
    int leaveChannel() override;
    int addPublishStreamUrl(const char* url, bool transcodingEnabled) override;
    int removePublishStreamUrl(const char* url) override;
    int adjustRecordingSignalVolume(int volume) override;

protected:
    IRtcEngineParameter* createParameter() override;
    IAudioDeviceManager* createDeviceManager() override;

private:
    IRtcEngineEventHandler* m_handler = nullptr;
};

namespace scripted {
// Records one call; returns the failure code scripted for it, or 0.
int record(const QString& name, const QStringList& args = QStringList());
QString text(const char* value);
QString flag(bool value);
} // namespace scripted

} // namespace rtc
} // namespace agora
