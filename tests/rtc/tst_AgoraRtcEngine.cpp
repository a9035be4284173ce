// The engine wrapper against the scripted SDK backend: call sequences, values, refusals made
// before the SDK is reached, codes passed through, the device map and the log lines.
#include "base/MuSettings.h"
#include "base/UserNotifier.h"
#include "base/VClock.h"
#include "config/VGlobalConfig.h"
#include "rtc/AgoraRtcEngine.h"
#include "rtc/sdk/IRtcEngine.h"
#include "support/LogCapture.h"
#include "support/ScriptedRtcBackend.h"
#include "support/TestEnv.h"

#include <QDir>
#include <QThread>
#include <QtTest>

#include <memory>
#include <thread>

using agora::rtc::ScriptedRtcBackend;

namespace {
const QString kAppId = QStringLiteral("5e0c7b21d94a4f6e8a13c2b7f0d96e48");

QStringList joinParameterCalls()
{
    return {
        QStringLiteral("setParameters({\"che.audio.bypass.apm\":true})"),
        QStringLiteral("setParameters({\"che.audio.specify.codec\":\"HEAAC_2ch\"})"),
        QStringLiteral("setParameters({\"che.audio.stereo.capture\":true})"),
        QStringLiteral("setParameters({\"che.audio.enable.aec\":false})"),
        QStringLiteral("setParameters({\"che.audio.enable.ns\":false})"),
        QStringLiteral("setParameters({\"che.audio.enable.agc\":false})"),
    };
}
} // namespace

class tst_AgoraRtcEngine : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestEnv::ScopedWorkDir> m_work;
    std::unique_ptr<LogCapture> m_log; // installed once the test runner has its own handler
    QDateTime m_now;

    // Takes the notes the engine has for the user.
    struct RecordingNotifier : UserNotifier
    {
        QStringList boxes;
        void tell(Style style, const QString& title, const QString& text) override
        {
            boxes << (style == Style::Information ? QStringLiteral("information") : QStringLiteral("warning"))
                  << title << text;
        }
    } m_notifier;

    // A fresh engine with the call log cleared after construction.
    std::unique_ptr<AgoraRtcEngine> engine()
    {
        auto e = std::make_unique<AgoraRtcEngine>();
        ScriptedRtcBackend::clearCalls();
        LogCapture::clear();
        return e;
    }

private Q_SLOTS:
    void initTestCase() { m_log = std::make_unique<LogCapture>(); }
    void cleanupTestCase() { m_log.reset(); }

    void init()
    {
        m_work = std::make_unique<TestEnv::ScopedWorkDir>();
        ScriptedRtcBackend::setEnabled(true);
        ScriptedRtcBackend::reset();
        VGlobalConfig::instance()->setValue(QStringLiteral("pcmDump"), QString());
        m_now = QDateTime(QDate(2026, 3, 9), QTime(23, 59, 58));
        VClock::setWallClock([this] { return m_now; });
        m_notifier.boxes.clear();
        UserNotifier::install(&m_notifier);
        LogCapture::clear();
    }

    void cleanup()
    {
        VClock::setWallClock({});
        UserNotifier::install(nullptr);
        QCOMPARE(ScriptedRtcBackend::liveEngineCount(), 0);
        m_work.reset();
    }

    void constructionConfiguresTheEngineInOrder()
    {
        {
            AgoraRtcEngine e;
            QCOMPARE(
                ScriptedRtcBackend::calls(),
                QStringList({"createAgoraRtcEngine()", "initialize(" + kAppId + ", 4294967295, 1, handler)",
                             "setLogFile(./log/Agora/DuvevEzivIzave-20260309.log)", "disableVideo()",
                             "enableAudio()", "setChannelProfile(1)", "setClientRole(1)"}));
            QVERIFY(QDir(QStringLiteral("log/Agora")).exists());
            QVERIFY(m_notifier.boxes.isEmpty());
            QVERIFY(LogCapture::lines().isEmpty());
            // The name keeps the construction date even after midnight.
            m_now = m_now.addSecs(10);
            QCOMPARE(AgoraRtcEngine::sdkLogFilePath(m_now.date()),
                     QStringLiteral("./log/Agora/DuvevEzivIzave-20260310.log"));
            QCOMPARE(ScriptedRtcBackend::callCount(QStringLiteral("setLogFile")), 1);
            ScriptedRtcBackend::clearCalls();
        }
        // Released once, synchronously, with sync = false.
        QCOMPARE(ScriptedRtcBackend::calls(), QStringList({"IRtcEngine::release(false)"}));
        AgoraRtcEngine next;
        QCOMPARE(ScriptedRtcBackend::callCount(
                     QStringLiteral("setLogFile(./log/Agora/DuvevEzivIzave-20260310.log)")),
                 1);
    }

    void failedInitialisationIsLoggedShownAndConstructionGoesOn()
    {
        ScriptedRtcBackend::failCall(QStringLiteral("initialize"), -7);
        AgoraRtcEngine e;
        QCOMPARE(LogCapture::lines(), QStringList({"IRtcEngine::initialize fail " + kAppId + " -7"}));
        QCOMPARE(m_notifier.boxes, QStringList({QStringLiteral("information"), QStringLiteral("提示"),
                                                QStringLiteral("sdk初始化失败")}));
        QCOMPARE(ScriptedRtcBackend::callCount(QStringLiteral("setClientRole(1)")), 1);
        // Later calls still reach the engine and its codes come back.
        ScriptedRtcBackend::failCall(QStringLiteral("joinChannel"), -7);
        QCOMPARE(e.joinChannel(QString(), QStringLiteral("room"), QStringLiteral("5")), -7);
    }

    void joinSendsTheParameterTextsAndDebugRecordingSwitch_data()
    {
        QTest::addColumn<QString>("pcmDump");
        QTest::addColumn<bool>("dump");
        QTest::newRow("true") << "true" << true;
        QTest::newRow("TRUE") << "TRUE" << false;
        QTest::newRow("True ") << "true " << false;
        QTest::newRow("absent") << QString() << false;
    }

    void joinSendsTheParameterTextsAndDebugRecordingSwitch()
    {
        QFETCH(QString, pcmDump);
        QFETCH(bool, dump);
        VGlobalConfig::instance()->setValue(QStringLiteral("pcmDump"), pcmDump);
        auto e = engine();
        // Read at construction only.
        VGlobalConfig::instance()->setValue(QStringLiteral("pcmDump"), QStringLiteral("true"));

        QCOMPARE(e->joinChannel(QString(), QStringLiteral("room1"), QStringLiteral("1234")), 0);
        QStringList expected =
            QStringList{"setAudioProfile(5, 3)", "queryInterface(3)"} + joinParameterCalls() +
            QStringList{"muteAllRemoteAudioStreams(true)", "enableWebSdkInteroperability(true)"};
        if (dump) {
            expected << "queryInterface(3)"
                     << "setParameters({\"che.audio.start_debug_recording\":\"NoName\"})"
                     << "IRtcEngineParameter::release()";
        }
        expected << "joinChannel(, room1, null, 1234)"
                 << "IRtcEngineParameter::release()";
        QCOMPARE(ScriptedRtcBackend::calls(), expected);

        QStringList lines = {dump ? "setPcmDump true" : "setPcmDump false",
                             "AgoraRtcEngine::enableWebSdkInteroperability true"};
        if (dump)
            lines << "AgoraRtcEngine::setPcmDump true 0";
        QCOMPARE(LogCapture::lines(), lines);

        // Leaving stops the debug recording after the leave, and only when it was started.
        ScriptedRtcBackend::clearCalls();
        QCOMPARE(e->leaveChannel(), 0);
        QStringList leave = {"leaveChannel()"};
        if (dump) {
            leave << "queryInterface(3)"
                  << "setParameters({\"che.audio.stop_debug_recording\":true})"
                  << "IRtcEngineParameter::release()";
        }
        QCOMPARE(ScriptedRtcBackend::calls(), leave);
    }

    void joinRefusesEmptyNamesBeforeTheSdk_data()
    {
        QTest::addColumn<QString>("channel");
        QTest::addColumn<QString>("userId");
        QTest::newRow("no channel") << QString() << "7";
        QTest::newRow("no user") << "room" << QString();
        QTest::newRow("neither") << QString() << QString();
    }

    void joinRefusesEmptyNamesBeforeTheSdk()
    {
        QFETCH(QString, channel);
        QFETCH(QString, userId);
        auto e = engine();
        QCOMPARE(e->joinChannel(QStringLiteral("tok"), channel, userId), -1);
        QVERIFY(ScriptedRtcBackend::calls().isEmpty());
        QCOMPARE(LogCapture::lines(),
                 QStringList(QStringLiteral("AgoraRtcEngine::joinChannel isEmpty \"tok\" \"%1\" \"%2\"")
                                 .arg(channel, userId)));
    }

    void joinConvertsTheUserIdAsSigned32Bit_data()
    {
        QTest::addColumn<QString>("userId");
        QTest::addColumn<QString>("sent");
        QTest::newRow("plain") << "1234"
                               << "1234";
        QTest::newRow("letters") << "abc"
                                 << "0";
        QTest::newRow("too big") << "2147483648"
                                 << "0";
        QTest::newRow("largest") << "2147483647"
                                 << "2147483647";
        QTest::newRow("negative") << "-10001"
                                  << "4294957295";
    }

    void joinConvertsTheUserIdAsSigned32Bit()
    {
        QFETCH(QString, userId);
        QFETCH(QString, sent);
        auto e = engine();
        QCOMPARE(e->joinChannel(QString(), QStringLiteral("room"), userId), 0);
        QCOMPARE(ScriptedRtcBackend::callCount("joinChannel(, room, null, " + sent + ")"), 1);
    }

    void joinWithoutParameterInterfaceStillJoins()
    {
        VGlobalConfig::instance()->setValue(QStringLiteral("pcmDump"), QStringLiteral("true"));
        auto e = engine();
        ScriptedRtcBackend::failCall(QStringLiteral("queryInterface(3)"), -4);
        ScriptedRtcBackend::failCall(QStringLiteral("joinChannel"), -17);
        QCOMPARE(e->joinChannel(QStringLiteral("t"), QStringLiteral("room"), QStringLiteral("9")), -17);
        QCOMPARE(ScriptedRtcBackend::callCount(QStringLiteral("setParameters")), 0);
        QCOMPARE(ScriptedRtcBackend::callCount(QStringLiteral("IRtcEngineParameter::release")), 0);
        QCOMPARE(ScriptedRtcBackend::callCount(QStringLiteral("joinChannel(t, room, null, 9)")), 1);
        QCOMPARE(e->setPcmDump(true), -1);
        QVERIFY(LogCapture::linesStartingWith(QStringLiteral("AgoraRtcEngine::setPcmDump")).isEmpty());
    }

    void setPcmDumpPassesTheResultAndReleases()
    {
        auto e = engine();
        ScriptedRtcBackend::failCall(QStringLiteral("setParameters"), -2);
        QCOMPARE(e->setPcmDump(false), -2);
        QCOMPARE(ScriptedRtcBackend::calls(),
                 QStringList({"queryInterface(3)", "setParameters({\"che.audio.stop_debug_recording\":true})",
                              "IRtcEngineParameter::release()"}));
        QCOMPARE(LogCapture::lines(), QStringList("AgoraRtcEngine::setPcmDump false -2"));
    }

    void publishAddressesAreCheckedForEmptinessOnly()
    {
        auto e = engine();
        QCOMPARE(e->addPublishStreamUrl(QString()), -1);
        QCOMPARE(e->removePublishStreamUrl(QString()), -1);
        QVERIFY(ScriptedRtcBackend::calls().isEmpty());
        QCOMPARE(LogCapture::lines(), QStringList({"AgoraRtcEngine::addPublishStreamUrl isEmpty",
                                                   "AgoraRtcEngine::removePublishStreamUrl isEmpty"}));
        QCOMPARE(e->joinChannel(QString(), QStringLiteral("room"), QStringLiteral("1")), 0);
        LogCapture::clear();
        ScriptedRtcBackend::clearCalls();
        const QString url = QStringLiteral("rtmp://127.0.0.1:1935/live/推流");
        QCOMPARE(e->addPublishStreamUrl(url), 0);
        // The SDK's own refusal comes back unchanged.
        QCOMPARE(e->addPublishStreamUrl(QStringLiteral("not an address")), -2);
        QCOMPARE(e->removePublishStreamUrl(url), 0);
        QCOMPARE(ScriptedRtcBackend::calls(), QStringList({"addPublishStreamUrl(" + url + ", false)",
                                                           "addPublishStreamUrl(not an address, false)",
                                                           "removePublishStreamUrl(" + url + ")"}));
        QCOMPARE(LogCapture::lines(),
                 QStringList({"AgoraRtcEngine::addPublishStreamUrl \"" + url + "\"",
                              "AgoraRtcEngine::addPublishStreamUrl \"not an address\"",
                              "AgoraRtcEngine::removePublishStreamUrl \"" + url + "\""}));
    }

    void volumeMuteAndInteroperabilityPassThrough()
    {
        auto e = engine();
        QCOMPARE(e->adjustRecordingSignalVolume(37), 0);
        QCOMPARE(e->adjustRecordingSignalVolume(-5), -2); // not clamped: the SDK decides
        ScriptedRtcBackend::failCall(QStringLiteral("muteLocalAudioStream(true)"), -3);
        QCOMPARE(e->muteLocalAudioStream(true), -3);
        QCOMPARE(e->muteLocalAudioStream(false), 0);
        ScriptedRtcBackend::failCall(QStringLiteral("enableWebSdkInteroperability"), -9);
        QCOMPARE(e->enableWebSdkInteroperability(), -9);
        QCOMPARE(ScriptedRtcBackend::calls(),
                 QStringList({"adjustRecordingSignalVolume(37)", "adjustRecordingSignalVolume(-5)",
                              "muteLocalAudioStream(true)", "muteLocalAudioStream(false)",
                              "enableWebSdkInteroperability(true)"}));
        QCOMPARE(ScriptedRtcBackend::recordingVolume(), 37);
        QCOMPARE(LogCapture::lines(), QStringList({"AgoraRtcEngine::adjustRecordingSignalVolume 37",
                                                   "AgoraRtcEngine::adjustRecordingSignalVolume -5",
                                                   "AgoraRtcEngine::enableWebSdkInteroperability true"}));
    }

    void deviceMapListsDevicesAndSkipsFailedQueries()
    {
        ScriptedRtcBackend::setRecordingDevices(
            {{QStringLiteral("麦克风 (USB)"), QStringLiteral("usb.mic")},
             {QStringLiteral("Line In"), QStringLiteral("line.in")},
             {QStringLiteral("Monitor (default)"), QStringLiteral("null.monitor")}});
        auto e = engine();
        QVariantMap map = e->recordingDevices();
        QCOMPARE(map.value("name").toStringList(),
                 QStringList({"麦克风 (USB)", "Line In", "Monitor (default)"}));
        QCOMPARE(map.value("guid").toStringList(), QStringList({"usb.mic", "line.in", "null.monitor"}));
        QCOMPARE(map.value("length").toInt(), 3);
        QCOMPARE(map.value("length").type(), QVariant::Int);
        QCOMPARE(ScriptedRtcBackend::calls(),
                 QStringList({"queryInterface(1)", "enumerateRecordingDevices()", "getCount()",
                              "getDevice(0)", "getDevice(1)", "getDevice(2)",
                              "IAudioDeviceCollection::release()", "IAudioDeviceManager::release()"}));

        // A device whose query fails is left out of both lists and of the count.
        ScriptedRtcBackend::failCall(QStringLiteral("getDevice(1)"), -1);
        map = e->recordingDevices();
        QCOMPARE(map.value("name").toStringList(), QStringList({"麦克风 (USB)", "Monitor (default)"}));
        QCOMPARE(map.value("guid").toStringList(), QStringList({"usb.mic", "null.monitor"}));
        QCOMPARE(map.value("length").toInt(), 2);

        // Every device failing: the keys are there, the lists are empty.
        ScriptedRtcBackend::failCall(QStringLiteral("getDevice"), -1);
        map = e->recordingDevices();
        QCOMPARE(map.value("length").toInt(), 0);
        QVERIFY(map.contains("name"));
    }

    void deviceMapIsEmptyWithoutDevicesOrInterfaces()
    {
        auto e = engine();
        ScriptedRtcBackend::setRecordingDevices({});
        QVERIFY(e->recordingDevices().isEmpty());
        QCOMPARE(ScriptedRtcBackend::callCount(QStringLiteral("IAudioDeviceCollection::release")), 1);
        QCOMPARE(ScriptedRtcBackend::callCount(QStringLiteral("IAudioDeviceManager::release")), 1);

        ScriptedRtcBackend::setRecordingDevices(ScriptedRtcBackend::defaultDevices());
        ScriptedRtcBackend::failCall(QStringLiteral("getCount"), -5);
        QVERIFY(e->recordingDevices().isEmpty());
        ScriptedRtcBackend::clearFailures();

        ScriptedRtcBackend::clearCalls();
        ScriptedRtcBackend::failCall(QStringLiteral("enumerateRecordingDevices"), -1);
        QVERIFY(e->recordingDevices().isEmpty());
        QCOMPARE(ScriptedRtcBackend::calls(), QStringList({"queryInterface(1)", "enumerateRecordingDevices()",
                                                           "IAudioDeviceManager::release()"}));

        ScriptedRtcBackend::clearCalls();
        ScriptedRtcBackend::failCall(QStringLiteral("queryInterface(1)"), -1);
        QVERIFY(e->recordingDevices().isEmpty());
        QCOMPARE(ScriptedRtcBackend::calls(), QStringList({"queryInterface(1)"}));
    }

    void setRecordingDevicePassesTheId()
    {
        auto e = engine();
        QCOMPARE(e->setRecordingDevice(QString()), -1);
        QVERIFY(ScriptedRtcBackend::calls().isEmpty());
        QCOMPARE(e->setRecordingDevice(QStringLiteral("tavio_null.monitor")), 0);
        QCOMPARE(ScriptedRtcBackend::recordingDevice(), QStringLiteral("tavio_null.monitor"));
        QCOMPARE(e->setRecordingDevice(QStringLiteral("gone")), -5);
        QCOMPARE(ScriptedRtcBackend::calls(),
                 QStringList({"queryInterface(1)", "setRecordingDevice(tavio_null.monitor)",
                              "IAudioDeviceManager::release()", "queryInterface(1)",
                              "setRecordingDevice(gone)", "IAudioDeviceManager::release()"}));
        ScriptedRtcBackend::failCall(QStringLiteral("queryInterface(1)"), -3);
        QCOMPARE(e->setRecordingDevice(QStringLiteral("tavio_null.monitor")), -1);
        // The caller logs the outcome, not the wrapper.
        QVERIFY(LogCapture::lines().isEmpty());
    }

    void replacingAnEngineReleasesTheOldOne()
    {
        // The panel may build the next engine before dropping the previous one.
        auto first = engine();
        auto second = std::make_unique<AgoraRtcEngine>();
        QCOMPARE(ScriptedRtcBackend::liveEngineCount(), 2);
        first.reset();
        QCOMPARE(ScriptedRtcBackend::liveEngineCount(), 1);
        // The survivor is the new engine: it still works and its handler still logs.
        QCOMPARE(second->joinChannel(QString(), QStringLiteral("room"), QStringLiteral("3")), 0);
        LogCapture::clear();
        QVERIFY(ScriptedRtcBackend::withEventHandler([](agora::rtc::IRtcEngineEventHandler* handler) {
            handler->onJoinChannelSuccess("room", 3, 1);
        }));
        QCOMPARE(LogCapture::lines(), QStringList("onJoinChannelSuccess \"room\" 3 1"));
        second.reset();
        QVERIFY(!ScriptedRtcBackend::withEventHandler([](agora::rtc::IRtcEngineEventHandler*) {}));
    }

    void pushEventsArriveAsQueuedSignalsOnTheGuiThreadAndAreStillLogged()
    {
        using namespace agora::rtc;
        auto e = engine();
        QStringList seen;
        QList<Qt::HANDLE> threads;
        auto note = [&](const QString& text) {
            seen << text;
            threads << QThread::currentThreadId();
        };
        connect(e.get(), &AgoraRtcEngine::sigRelayStateChanged, this,
                [&](const QString& url, int state, int code) {
                    note(QStringLiteral("relay %1 %2 %3").arg(url).arg(state).arg(code));
                });
        connect(e.get(), &AgoraRtcEngine::sigRelayReconnecting, this,
                [&](const QString& url, int attempt, int delayMs) {
                    note(QStringLiteral("reconnect %1 %2 %3").arg(url).arg(attempt).arg(delayMs));
                });
        connect(e.get(), &AgoraRtcEngine::sigCaptureStateChanged, this,
                [&](int state, int error) { note(QStringLiteral("capture %1 %2").arg(state).arg(error)); });
        connect(e.get(), &AgoraRtcEngine::sigRecordingDeviceChanged, this, [&](const QString& id, int state) {
            note(QStringLiteral("device %1 %2").arg(id).arg(state));
        });
        connect(e.get(), &AgoraRtcEngine::sigAcknowledgedTraffic, this,
                [&](quint64 bytes, int kbps) { note(QStringLiteral("traffic %1 %2").arg(bytes).arg(kbps)); });
        connect(e.get(), &AgoraRtcEngine::sigCaptureLevel, this,
                [&](int level) { note(QStringLiteral("level %1").arg(level)); });

        // Raised from a thread of the SDK's own, as the real backend does.
        std::thread sdkThread([] {
            ScriptedRtcBackend::withEventHandler([](IRtcEngineEventHandler* handler) {
                RtcStats stats;
                stats.txBytes = 4000000000u;
                stats.txKBitRate = 128;
                handler->onRtmpStreamingStateChanged("rtmp://h/live/a", kRtmpStateRecovering,
                                                     kRtmpErrorConnectionLost);
                handler->onRtmpStreamingReconnecting("rtmp://h/live/a", 2, 2000);
                handler->onLocalAudioStateChanged(kLocalAudioFailed, kLocalAudioErrorRecordingFailure);
                handler->onAudioDeviceStateChanged("mic.\xc3\xa9", kAudioRecordingDevice,
                                                   kDeviceStateUnplugged);
                handler->onAudioDeviceStateChanged("speaker", kAudioPlayoutDevice, kDeviceStateUnplugged);
                handler->onRtcStats(stats);
                handler->onRtcStats(stats); // throttled in the log, never in the signals
                AudioVolumeInfo speaker;
                speaker.volume = 200;
                handler->onAudioVolumeIndication(&speaker, 1, 200);
            });
        });
        sdkThread.join();
        QVERIFY(seen.isEmpty()); // queued, not direct
        QTRY_COMPARE(seen.size(), 7);
        QCOMPARE(seen, QStringList({"relay rtmp://h/live/a 3 4", "reconnect rtmp://h/live/a 2 2000",
                                    "capture 3 4", QStringLiteral("device mic.\u00e9 8"),
                                    "traffic 4000000000 128", "traffic 4000000000 128", "level 200"}));
        for (Qt::HANDLE thread : qAsConst(threads))
            QCOMPARE(thread, QThread::currentThreadId());
        // The log keeps its lines, the reconnect (no callback of the log's list) adds none.
        const QStringList lines = LogCapture::lines();
        QCOMPARE(lines.filter(QStringLiteral("onRtcStats")).size(), 1);
        QCOMPARE(lines.filter(QStringLiteral("onRtmpStreamingStateChanged")).size(), 1);
        QCOMPARE(lines.filter(QStringLiteral("Reconnecting")).size(), 0);

        // Events still queued when the engine goes are dropped with it.
        ScriptedRtcBackend::withEventHandler([](IRtcEngineEventHandler* handler) {
            handler->onLocalAudioStateChanged(kLocalAudioRecording, 0);
        });
        e.reset();
        QTest::qWait(50);
        QCOMPARE(seen.size(), 7);
    }

    // A steady level reaches the GUI twenty more times, then once per twenty reports; any
    // change goes through at once.
    void steadyLevelsAreThinned()
    {
        using namespace agora::rtc;
        auto e = engine();
        QList<int> levels;
        connect(e.get(), &AgoraRtcEngine::sigCaptureLevel, this, [&](int level) { levels << level; });
        ScriptedRtcBackend::withEventHandler([](IRtcEngineEventHandler* handler) {
            AudioVolumeInfo speaker;
            for (int i = 0; i < 100; ++i)
                handler->onAudioVolumeIndication(&speaker, 1, 50);
            handler->onAudioVolumeIndication(&speaker, 1, 60);
            for (int i = 0; i < 25; ++i)
                handler->onAudioVolumeIndication(&speaker, 1, 50);
        });
        QCoreApplication::processEvents();
        // Repeats 0..20, then 40, 60, 80; the change; the new level counts its repeats afresh.
        QCOMPARE(levels.size(), 21 + 3 + 1 + 21);
        QCOMPARE(levels.mid(24, 2), QList<int>({60, 50}));
    }
};

QTEST_MAIN(tst_AgoraRtcEngine)
#include "tst_AgoraRtcEngine.moc"
