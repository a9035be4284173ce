#include "rtc/AgoraRtcEngine.h"

#include "base/MuSettings.h"
#include "base/OutsideText.h"
#include "base/UserNotifier.h"
#include "base/VClock.h"
#include "config/VGlobalConfig.h"
#include "rtc/AgoraRtcEngineEventHandler.h"
#include "rtc/sdk/IRtcEngine.h"

#include <QDebug>
#include <QDir>

using namespace agora::rtc;

namespace {

// The engine-parameter texts sent before every join, in this order.
const char* const kJoinParameters[] = {
    "{\"che.audio.bypass.apm\":true}",     "{\"che.audio.specify.codec\":\"HEAAC_2ch\"}",
    "{\"che.audio.stereo.capture\":true}", "{\"che.audio.enable.aec\":false}",
    "{\"che.audio.enable.ns\":false}",     "{\"che.audio.enable.agc\":false}",
};

template <typename T> T* queryInterface(IRtcEngine* engine, int interfaceId)
{
    if (!engine)
        return nullptr;
    void* inter = nullptr;
    if (engine->queryInterface(interfaceId, &inter) != 0 || !inter)
        return nullptr;
    return static_cast<T*>(inter);
}

} // namespace

AgoraRtcEngine::AgoraRtcEngine(QObject* parent) : QObject(parent)
{
    m_engine = createAgoraRtcEngine();

    m_eventHandler = QSharedPointer<AgoraRtcEngineEventHandler>::create(this);
    m_pcmDump = VGlobalConfig::instance()->value(QStringLiteral("pcmDump")) == QLatin1String("true");

    const char* appId = MuSettings::instance()->appIdText();
    RtcEngineContext context;
    context.eventHandler = m_eventHandler.data();
    context.appId = appId;
    const int initResult = m_engine->initialize(context);
    if (initResult != 0) {
        qInfo() << "IRtcEngine::initialize fail" << appId << initResult;
        UserNotifier::tellUser(UserNotifier::Style::Information, QStringLiteral("提示"),
                               QStringLiteral("sdk初始化失败"));
    }

    const QDate today = VClock::now().date();
    QDir().mkpath(QStringLiteral("./log/Agora"));
    m_engine->setLogFile(sdkLogFilePath(today).toUtf8().constData());

    m_engine->disableVideo();
    m_engine->enableAudio();
    m_engine->setChannelProfile(kChannelProfileLiveBroadcasting);
    m_engine->setClientRole(kClientRoleBroadcaster);
}

AgoraRtcEngine::~AgoraRtcEngine()
{
    if (m_engine) {
        // Our SDK layer releases synchronously whatever the flag says, so the handler dropped
        // below can no longer be called.
        IRtcEngine::release(false);
        m_engine = nullptr;
    }
    m_eventHandler.reset();
}

QString AgoraRtcEngine::sdkLogFilePath(const QDate& date)
{
    return QStringLiteral("./log/Agora/DuvevEzivIzave-") + date.toString(QStringLiteral("yyyyMMdd")) +
           QStringLiteral(".log");
}

int AgoraRtcEngine::joinChannel(const QString& token, const QString& channelName, const QString& userId)
{
    if (channelName.isEmpty() || userId.isEmpty()) {
        qInfo() << "AgoraRtcEngine::joinChannel isEmpty" << token << channelName << userId;
        return -1;
    }

    m_engine->setAudioProfile(kAudioProfileMusicHighQualityStereo, kAudioScenarioGameStreaming);

    IRtcEngineParameter* parameters =
        queryInterface<IRtcEngineParameter>(m_engine, kInterfaceEngineParameter);
    if (parameters) {
        for (const char* text : kJoinParameters)
            parameters->setParameters(text);
    }

    m_engine->muteAllRemoteAudioStreams(true);
    qInfo() << "setPcmDump" << m_pcmDump;
    enableWebSdkInteroperability();
    if (m_pcmDump)
        setPcmDump(true);

    bool ok = false;
    const int uid = userId.toInt(&ok, 10);
    const QByteArray tokenBytes = token.toUtf8();
    const QByteArray channelBytes = channelName.toUtf8();
    const int result = m_engine->joinChannel(tokenBytes.constData(), channelBytes.constData(), nullptr,
                                             static_cast<unsigned int>(ok ? uid : 0));
    if (parameters)
        parameters->release();
    return result;
}

int AgoraRtcEngine::leaveChannel()
{
    const int result = m_engine->leaveChannel();
    if (m_pcmDump)
        setPcmDump(false);
    return result;
}

int AgoraRtcEngine::addPublishStreamUrl(const QString& url)
{
    if (url.isEmpty()) {
        qInfo() << "AgoraRtcEngine::addPublishStreamUrl isEmpty";
        return -1;
    }
    qInfo() << "AgoraRtcEngine::addPublishStreamUrl" << OutsideText::capped(url);
    return m_engine->addPublishStreamUrl(url.toUtf8().constData(), false);
}

int AgoraRtcEngine::removePublishStreamUrl(const QString& url)
{
    if (url.isEmpty()) {
        qInfo() << "AgoraRtcEngine::removePublishStreamUrl isEmpty";
        return -1;
    }
    qInfo() << "AgoraRtcEngine::removePublishStreamUrl" << OutsideText::capped(url);
    return m_engine->removePublishStreamUrl(url.toUtf8().constData());
}

int AgoraRtcEngine::adjustRecordingSignalVolume(int volume)
{
    const int result = m_engine->adjustRecordingSignalVolume(volume);
    qInfo() << "AgoraRtcEngine::adjustRecordingSignalVolume" << volume;
    return result;
}

int AgoraRtcEngine::muteLocalAudioStream(bool mute)
{
    return m_engine->muteLocalAudioStream(mute);
}

int AgoraRtcEngine::enableWebSdkInteroperability()
{
    const int result = m_engine->enableWebSdkInteroperability(true);
    qInfo() << "AgoraRtcEngine::enableWebSdkInteroperability true";
    return result;
}

int AgoraRtcEngine::setPcmDump(bool enable)
{
    IRtcEngineParameter* parameters =
        queryInterface<IRtcEngineParameter>(m_engine, kInterfaceEngineParameter);
    if (!parameters)
        return -1;
    const int result = parameters->setParameters(enable ? "{\"che.audio.start_debug_recording\":\"NoName\"}"
                                                        : "{\"che.audio.stop_debug_recording\":true}");
    qInfo() << "AgoraRtcEngine::setPcmDump" << enable << result;
    parameters->release();
    return result;
}

QVariantMap AgoraRtcEngine::recordingDevices()
{
    QVariantMap devices;
    IAudioDeviceManager* manager =
        queryInterface<IAudioDeviceManager>(m_engine, kInterfaceAudioDeviceManager);
    if (!manager)
        return devices;
    IAudioDeviceCollection* collection = manager->enumerateRecordingDevices();
    if (!collection) {
        manager->release();
        return devices;
    }

    const int count = collection->getCount();
    QVariantList names;
    QVariantList ids;
    for (int i = 0; i < count; ++i) {
        char name[kMaxDeviceIdLength] = {};
        char id[kMaxDeviceIdLength] = {};
        if (collection->getDevice(i, name, id) != 0)
            continue;
        // Never trust the terminating zero: cut at the buffer's end.
        names.append(QString::fromUtf8(name, static_cast<int>(qstrnlen(name, sizeof(name)))));
        ids.append(QString::fromUtf8(id, static_cast<int>(qstrnlen(id, sizeof(id)))));
    }
    if (count >= 1) {
        devices.insert(QStringLiteral("name"), names);
        devices.insert(QStringLiteral("guid"), ids);
        devices.insert(QStringLiteral("length"), names.size());
    }
    collection->release();
    manager->release();
    return devices;
}

int AgoraRtcEngine::setRecordingDevice(const QString& deviceId)
{
    if (deviceId.isEmpty())
        return -1;
    IAudioDeviceManager* manager =
        queryInterface<IAudioDeviceManager>(m_engine, kInterfaceAudioDeviceManager);
    if (!manager)
        return -1;
    const int result = manager->setRecordingDevice(deviceId.toUtf8().constData());
    manager->release();
    return result;
}

int AgoraRtcEngine::startRecordingDeviceTest(int indicationIntervalMs)
{
    IAudioDeviceManager* manager =
        queryInterface<IAudioDeviceManager>(m_engine, kInterfaceAudioDeviceManager);
    if (!manager)
        return -1;
    const int result = manager->startRecordingDeviceTest(indicationIntervalMs);
    manager->release();
    return result;
}

int AgoraRtcEngine::stopRecordingDeviceTest()
{
    IAudioDeviceManager* manager =
        queryInterface<IAudioDeviceManager>(m_engine, kInterfaceAudioDeviceManager);
    if (!manager)
        return -1;
    const int result = manager->stopRecordingDeviceTest();
    manager->release();
    return result;
}
