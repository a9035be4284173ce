// The scripted SDK backend other tests drive: selection, call texts, failure keys and counts,
// device lists, state and reset.
#include "rtc/sdk/IRtcEngine.h"
#include "support/ScriptedRtcBackend.h"

#include <QtTest>

#include <cstring>

using namespace agora::rtc;

class tst_ScriptedRtcBackend : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        ScriptedRtcBackend::setEnabled(true);
        ScriptedRtcBackend::reset();
    }

    void cleanup()
    {
        IRtcEngine::release(true);
        QCOMPARE(ScriptedRtcBackend::liveEngineCount(), 0);
    }

    void failuresMatchByNameOrWholeCallAndCanBeCounted()
    {
        IRtcEngine* engine = createAgoraRtcEngine();
        ScriptedRtcBackend::failCall(QStringLiteral("adjustRecordingSignalVolume(50)"), -9);
        ScriptedRtcBackend::failCall(QStringLiteral("leaveChannel"), -3, 2);
        QCOMPARE(engine->adjustRecordingSignalVolume(40), 0);
        QCOMPARE(engine->adjustRecordingSignalVolume(50), -9);
        QCOMPARE(engine->adjustRecordingSignalVolume(50), -9);
        QCOMPARE(ScriptedRtcBackend::recordingVolume(), 40);
        QCOMPARE(engine->leaveChannel(), -3);
        QCOMPARE(engine->leaveChannel(), -3);
        QCOMPARE(engine->leaveChannel(), 0); // only twice
        // Failed calls are recorded too.
        QCOMPARE(ScriptedRtcBackend::callCount(QStringLiteral("adjustRecordingSignalVolume")), 3);
        QCOMPARE(ScriptedRtcBackend::callCount(QStringLiteral("adjustRecordingSignalVolume(50)")), 2);
        // A prefix of a name is not a key.
        QCOMPARE(ScriptedRtcBackend::callCount(QStringLiteral("leave")), 0);
        ScriptedRtcBackend::clearFailures();
        QCOMPARE(engine->adjustRecordingSignalVolume(50), 0);
    }

    void stateFollowsSuccessfulCallsOnly()
    {
        IRtcEngine* engine = createAgoraRtcEngine();
        QCOMPARE(engine->joinChannel(nullptr, "room", nullptr, 5), 0);
        QVERIFY(ScriptedRtcBackend::isJoined());
        QCOMPARE(ScriptedRtcBackend::calls().last(), QStringLiteral("joinChannel(null, room, null, 5)"));
        QCOMPARE(engine->addPublishStreamUrl("rtmp://127.0.0.1/live/a", false), 0);
        QVERIFY(engine->addPublishStreamUrl("rtmp://127.0.0.1/live/a", false) < 0);
        QCOMPARE(ScriptedRtcBackend::publishedUrls(), QStringList("rtmp://127.0.0.1/live/a"));
        ScriptedRtcBackend::failCall(QStringLiteral("muteLocalAudioStream"), -1);
        QCOMPARE(engine->muteLocalAudioStream(true), -1);
        QVERIFY(!ScriptedRtcBackend::isLocalAudioMuted());
        QCOMPARE(engine->leaveChannel(), 0);
        QVERIFY(!ScriptedRtcBackend::isJoined());
        QVERIFY(ScriptedRtcBackend::publishedUrls().isEmpty());
    }

    void devicesAreCopiedIntoBoundedBuffers()
    {
        const QString longName = QString(300, QChar(0x4e2d)); // 900 UTF-8 bytes
        ScriptedRtcBackend::setRecordingDevices({{longName, QStringLiteral("id0")}});
        IRtcEngine* engine = createAgoraRtcEngine();
        void* inter = nullptr;
        QCOMPARE(engine->queryInterface(kInterfaceAudioDeviceManager, &inter), 0);
        auto* manager = static_cast<IAudioDeviceManager*>(inter);
        IAudioDeviceCollection* collection = manager->enumerateRecordingDevices();
        QCOMPARE(collection->getCount(), 1);
        char name[kMaxDeviceIdLength + 8];
        char id[kMaxDeviceIdLength];
        std::memset(name, 'z', sizeof(name));
        QCOMPARE(collection->getDevice(0, name, id), 0);
        // Cut to the buffer at a character boundary, zero-terminated inside it.
        const QString copied = QString::fromUtf8(name);
        QCOMPARE(copied, longName.left(170));
        QCOMPARE(name[kMaxDeviceIdLength], 'z');
        QVERIFY(collection->getDevice(1, name, id) < 0);
        collection->release();
        QVERIFY(manager->setRecordingDevice("unknown") < 0);
        QCOMPARE(manager->setRecordingDevice("id0"), 0);
        manager->release();
        QVERIFY(engine->queryInterface(99, &inter) < 0);
    }

    void resetKeepsTheSelectionAndDisablingGivesTheRealBackend()
    {
        ScriptedRtcBackend::failCall(QStringLiteral("initialize"), -1);
        ScriptedRtcBackend::setRecordingDevices({});
        ScriptedRtcBackend::reset();
        QVERIFY(ScriptedRtcBackend::isEnabled());
        QCOMPARE(ScriptedRtcBackend::recordingDeviceList().size(),
                 ScriptedRtcBackend::defaultDevices().size());
        QVERIFY(ScriptedRtcBackend::calls().isEmpty());

        ScriptedRtcBackend::setEnabled(false);
        IRtcEngine* real = createAgoraRtcEngine();
        QVERIFY(ScriptedRtcBackend::calls().isEmpty()); // not scripted
        QCOMPARE(real->joinChannel("", "room", nullptr, 1), static_cast<int>(kErrNotInitialized));
        IRtcEngine::release(false);
    }
};

QTEST_GUILESS_MAIN(tst_ScriptedRtcBackend)
#include "tst_ScriptedRtcBackend.moc"
