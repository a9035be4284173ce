// The engine wrapper against the scripted SDK backend: what reaches the SDK, refusals made before
// it, codes passed back, the device map, the log lines and the events handed to the GUI thread.
#include "base/UserNotifier.h"
#include "base/VClock.h"
#include "config/VGlobalConfig.h"
#include "rtc/AgoraRtcEngine.h"
#include "rtc/sdk/IRtcEngine.h"
#include "support/LogCapture.h"
#include "support/ScriptedRtcBackend.h"
#include "support/TestEnv.h"

#include <QDir>
#include <QSignalSpy>
#include <QtTest>

#include <memory>
#include <thread>

using namespace agora::rtc;

class tst_AgoraRtcEngine : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestEnv::ScopedWorkDir> m_work;
    std::unique_ptr<LogCapture> m_log; // installed once the test runner has its own handler
    QDateTime m_now;

    struct RecordingNotifier : UserNotifier
    {
        QStringList boxes;
        void tell(Style, const QString& title, const QString& text) override { boxes << title << text; }
    } m_notifier;

    // A fresh engine with the call log and the log cleared after construction.
    std::unique_ptr<AgoraRtcEngine> engine()
    {
        auto e = std::make_unique<AgoraRtcEngine>();
        ScriptedRtcBackend::clearCalls();
        LogCapture::clear();
        return e;
    }
    static ScriptedRtcBackend::Snapshot sdk() { return ScriptedRtcBackend::snapshot(); }

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
        QCOMPARE(sdk().liveEngines, 0);
        m_work.reset();
    }

    // An audio-only broadcaster with our application id and a dated SDK log; a failed
    // initialisation is logged and shown, and the engine goes on.
    void construction_data()
    {
        QTest::addColumn<int>("initCode");
        QTest::newRow("initialised") << 0;
        QTest::newRow("initialisation fails") << -7;
    }
    void construction()
    {
        QFETCH(int, initCode);
        const QString appId = QStringLiteral("5e0c7b21d94a4f6e8a13c2b7f0d96e48");
        ScriptedRtcBackend::failCall(QStringLiteral("initialize"), initCode);
        {
            AgoraRtcEngine e;
            for (const QString& call :
                 {"initialize(" + appId + ", 4294967295, 1, handler)",
                  QStringLiteral("setLogFile(./log/Agora/DuvevEzivIzave-20260309.log)"),
                  QStringLiteral("disableVideo()"), QStringLiteral("enableAudio()"),
                  QStringLiteral("setChannelProfile(1)"), QStringLiteral("setClientRole(1)")})
                QVERIFY2(sdk().count(call) == 1, qPrintable(call));
            QVERIFY(QDir(QStringLiteral("log/Agora")).exists());
            // The name keeps the construction date after midnight; the next day's engine has its own.
            m_now = m_now.addSecs(10);
            QCOMPARE(AgoraRtcEngine::sdkLogFilePath(m_now.date()),
                     QStringLiteral("./log/Agora/DuvevEzivIzave-20260310.log"));
            if (initCode == 0) {
                QVERIFY(m_notifier.boxes.isEmpty() && LogCapture::lines().isEmpty());
            } else {
                QCOMPARE(LogCapture::lines(), QStringList("IRtcEngine::initialize fail " + appId + " -7"));
                QCOMPARE(m_notifier.boxes,
                         QStringList({QStringLiteral("提示"), QStringLiteral("sdk初始化失败")}));
                ScriptedRtcBackend::failCall(QStringLiteral("joinChannel"), -17);
                QCOMPARE(e.joinChannel(QString(), QStringLiteral("room"), QStringLiteral("5")), -17);
            }
            ScriptedRtcBackend::clearCalls();
        }
        QCOMPARE(sdk().calls, QStringList({"IRtcEngine::release(false)"})); // once, not waiting
    }

    // The debug recording is asked for by the exact text "true" only, read at construction; it
    // starts before the join and stops after the leave.
    void joinAndLeave_data()
    {
        QTest::addColumn<QString>("pcmDump");
        QTest::addColumn<bool>("dump");
        QTest::newRow("true") << "true" << true;
        QTest::newRow("TRUE") << "TRUE" << false;
        QTest::newRow("true with a space") << "true " << false;
        QTest::newRow("absent") << QString() << false;
    }
    void joinAndLeave()
    {
        QFETCH(QString, pcmDump);
        QFETCH(bool, dump);
        VGlobalConfig::instance()->setValue(QStringLiteral("pcmDump"), pcmDump);
        auto e = engine();
        VGlobalConfig::instance()->setValue(QStringLiteral("pcmDump"), QStringLiteral("true"));
        QCOMPARE(e->joinChannel(QString(), QStringLiteral("room1"), QStringLiteral("1234")), 0);
        const QStringList calls = sdk().calls;
        const int join = calls.indexOf(QStringLiteral("joinChannel(, room1, null, 1234)"));
        QVERIFY(join > 0 && calls.lastIndexOf(QRegularExpression("^setParameters")) < join);
        for (const char* call : {"setAudioProfile(5, 3)", "muteAllRemoteAudioStreams(true)",
                                 "enableWebSdkInteroperability(true)"})
            QVERIFY2(calls.indexOf(QLatin1String(call)) < join && calls.contains(QLatin1String(call)), call);
        QCOMPARE(sdk().parameters.filter(QStringLiteral("start_debug_recording")).size(), dump ? 1 : 0);
        QCOMPARE(LogCapture::lines().contains(QStringLiteral("AgoraRtcEngine::setPcmDump true 0")), dump);
        QVERIFY(LogCapture::lines().contains(dump ? "setPcmDump true" : "setPcmDump false"));

        ScriptedRtcBackend::clearCalls();
        QCOMPARE(e->leaveChannel(), 0);
        QCOMPARE(sdk().calls.first(), QStringLiteral("leaveChannel()"));
        QCOMPARE(sdk().parameters.filter(QStringLiteral("stop_debug_recording")).size(), dump ? 1 : 0);
    }

    // Empty names never reach the SDK; the user id goes as a signed 32-bit number.
    void joinNames_data()
    {
        QTest::addColumn<QString>("channel");
        QTest::addColumn<QString>("userId");
        QTest::addColumn<QString>("sent"); // empty: refused before the SDK
        // clang-format off
        QTest::newRow("no channel") << QString() << "7" << QString();
        QTest::newRow("no user") << "room" << QString() << QString();
        QTest::newRow("neither") << QString() << QString() << QString();
        QTest::newRow("plain") << "room" << "1234" << "1234";
        QTest::newRow("letters") << "room" << "abc" << "0";
        QTest::newRow("too big") << "room" << "2147483648" << "0";
        QTest::newRow("largest") << "room" << "2147483647" << "2147483647";
        QTest::newRow("negative") << "room" << "-10001" << "4294957295";
        // clang-format on
    }
    void joinNames()
    {
        QFETCH(QString, channel);
        QFETCH(QString, userId);
        QFETCH(QString, sent);
        auto e = engine();
        QCOMPARE(e->joinChannel(QStringLiteral("tok"), channel, userId), sent.isEmpty() ? -1 : 0);
        if (sent.isEmpty()) {
            QVERIFY(sdk().calls.isEmpty());
            QCOMPARE(LogCapture::lines(),
                     QStringList(QStringLiteral("AgoraRtcEngine::joinChannel isEmpty \"tok\" "
                                                "\"%1\" \"%2\"")
                                     .arg(channel, userId)));
        } else {
            QCOMPARE(sdk().count("joinChannel(tok, room, null, " + sent + ")"), 1);
        }
    }

    void joinWithoutParameterInterfaceStillJoins()
    {
        VGlobalConfig::instance()->setValue(QStringLiteral("pcmDump"), QStringLiteral("true"));
        auto e = engine();
        ScriptedRtcBackend::failCall(QStringLiteral("queryInterface(3)"), -4);
        ScriptedRtcBackend::failCall(QStringLiteral("joinChannel"), -17);
        QCOMPARE(e->joinChannel(QStringLiteral("t"), QStringLiteral("room"), QStringLiteral("9")), -17);
        QCOMPARE(sdk().count(QStringLiteral("setParameters")), 0);
        QCOMPARE(sdk().count(QStringLiteral("joinChannel(t, room, null, 9)")), 1);
        QCOMPARE(e->setPcmDump(true), -1);
        ScriptedRtcBackend::clearFailures();
        ScriptedRtcBackend::failCall(QStringLiteral("setParameters"), -2);
        QCOMPARE(e->setPcmDump(false), -2);
        QCOMPARE(LogCapture::linesStartingWith(QStringLiteral("AgoraRtcEngine::setPcmDump")),
                 QStringList("AgoraRtcEngine::setPcmDump false -2"));
    }

    // Values reach the SDK unchanged (it decides the range) and its codes come back; each is logged.
    void valuesPassThrough_data()
    {
        QTest::addColumn<int>("volume");
        QTest::addColumn<int>("code");
        for (const int volume : {0, 100, 400, 401, -5})
            QTest::addRow("%d", volume) << volume << (volume >= 0 && volume <= 400 ? 0 : -2);
    }
    void valuesPassThrough()
    {
        QFETCH(int, volume);
        QFETCH(int, code);
        auto e = engine();
        QCOMPARE(e->adjustRecordingSignalVolume(volume), code);
        QCOMPARE(sdk().volume, code == 0 ? volume : 100);
        QCOMPARE(LogCapture::lines(),
                 QStringList(QStringLiteral("AgoraRtcEngine::adjustRecordingSignalVolume %1").arg(volume)));
        ScriptedRtcBackend::failCall(QStringLiteral("muteLocalAudioStream(true)"), -3);
        QCOMPARE(e->muteLocalAudioStream(true), -3);
        QCOMPARE(e->muteLocalAudioStream(false), 0);
        ScriptedRtcBackend::failCall(QStringLiteral("enableWebSdkInteroperability(true)"), -9);
        QCOMPARE(e->enableWebSdkInteroperability(), -9);
    }

    void publishAddresses()
    {
        auto e = engine();
        QCOMPARE(e->addPublishStreamUrl(QString()), -1);
        QCOMPARE(e->removePublishStreamUrl(QString()), -1);
        QVERIFY(sdk().calls.isEmpty());
        QCOMPARE(LogCapture::lines(), QStringList({"AgoraRtcEngine::addPublishStreamUrl isEmpty",
                                                   "AgoraRtcEngine::removePublishStreamUrl isEmpty"}));
        QCOMPARE(e->joinChannel(QString(), QStringLiteral("room"), QStringLiteral("1")), 0);
        LogCapture::clear();
        const QString url = QStringLiteral("rtmp://127.0.0.1:1935/live/推流");
        QCOMPARE(e->addPublishStreamUrl(url), 0);
        QCOMPARE(e->addPublishStreamUrl(QStringLiteral("not an address")), -2); // the SDK's refusal
        QCOMPARE(sdk().publishedUrls, QStringList(url));
        QCOMPARE(sdk().count("addPublishStreamUrl(" + url + ", false)"), 1); // no transcoding
        QCOMPARE(e->removePublishStreamUrl(url), 0);
        QVERIFY(sdk().publishedUrls.isEmpty());
        QCOMPARE(LogCapture::lines(),
                 QStringList({"AgoraRtcEngine::addPublishStreamUrl \"" + url + "\"",
                              "AgoraRtcEngine::addPublishStreamUrl \"not an address\"",
                              "AgoraRtcEngine::removePublishStreamUrl \"" + url + "\""}));
        // An address is the service's text: the log keeps a capped piece of a huge one.
        LogCapture::clear();
        QCOMPARE(e->addPublishStreamUrl("rtmp://h/live/" + QString(100000, QLatin1Char('x'))), 0);
        const QString line = LogCapture::lines().value(0);
        QVERIFY2(line.size() < 2048 + 100 && line.contains(QStringLiteral("(100014 bytes)")),
                 qPrintable(line.left(80)));
    }

    // A device whose query fails is left out of both lists and the count; without devices or
    // interfaces the map is empty. (An interface not released is the leak check's.)
    void deviceMap()
    {
        ScriptedRtcBackend::setRecordingDevices(
            {{QStringLiteral("麦克风 (USB)"), QStringLiteral("usb.mic")},
             {QStringLiteral("Line In"), QStringLiteral("line.in")},
             {QStringLiteral("Monitor (default)"), QStringLiteral("null.monitor")}});
        auto e = engine();
        QCOMPARE(e->recordingDevices(),
                 QVariantMap({{"name", QStringList({"麦克风 (USB)", "Line In", "Monitor (default)"})},
                              {"guid", QStringList({"usb.mic", "line.in", "null.monitor"})},
                              {"length", 3}}));
        ScriptedRtcBackend::failCall(QStringLiteral("getDevice(1)"), -1);
        QCOMPARE(e->recordingDevices(),
                 QVariantMap({{"name", QStringList({"麦克风 (USB)", "Monitor (default)"})},
                              {"guid", QStringList({"usb.mic", "null.monitor"})},
                              {"length", 2}}));
        ScriptedRtcBackend::failCall(QStringLiteral("getDevice"), -1);
        QCOMPARE(e->recordingDevices().value("length").toInt(), 0);
        for (const char* key : {"getCount", "enumerateRecordingDevices", "queryInterface(1)"}) {
            ScriptedRtcBackend::clearFailures();
            ScriptedRtcBackend::failCall(QLatin1String(key), -5);
            QVERIFY2(e->recordingDevices().isEmpty(), key);
        }
        ScriptedRtcBackend::clearFailures();
        ScriptedRtcBackend::setRecordingDevices({});
        QVERIFY(e->recordingDevices().isEmpty());

        QCOMPARE(e->setRecordingDevice(QString()), -1);
        QCOMPARE(e->setRecordingDevice(QStringLiteral("line.in")), -5); // gone from the system
        ScriptedRtcBackend::setRecordingDevices({{QStringLiteral("Line In"), QStringLiteral("line.in")}});
        QCOMPARE(e->setRecordingDevice(QStringLiteral("line.in")), 0);
        QCOMPARE(sdk().recordingDevice, QStringLiteral("line.in"));
        ScriptedRtcBackend::failCall(QStringLiteral("queryInterface(1)"), -3);
        QCOMPARE(e->setRecordingDevice(QStringLiteral("line.in")), -1);
    }

    void replacingAnEngineReleasesTheOldOne()
    {
        // The panel may build the next engine before dropping the previous one.
        auto first = engine();
        auto second = std::make_unique<AgoraRtcEngine>();
        QCOMPARE(sdk().liveEngines, 2);
        first.reset();
        QCOMPARE(sdk().liveEngines, 1);
        QCOMPARE(second->joinChannel(QString(), QStringLiteral("room"), QStringLiteral("3")), 0);
        LogCapture::clear();
        QVERIFY(ScriptedRtcBackend::withEventHandler(
            [](IRtcEngineEventHandler* handler) { handler->onJoinChannelSuccess("room", 3, 1); }));
        QCOMPARE(LogCapture::lines(), QStringList("onJoinChannelSuccess \"room\" 3 1"));
        second.reset();
        QVERIFY(!ScriptedRtcBackend::withEventHandler([](IRtcEngineEventHandler*) {}));
    }

    // Raised from a thread of the SDK's own, the events reach the GUI thread queued, with their
    // values (the status line and the meter show them: the workflow's and the panel's tests);
    // the log keeps its throttle, the signals do not.
    void pushEventsArriveQueuedAndAreStillLogged()
    {
        auto e = engine();
        QStringList seen;
        const auto record = [&seen](const char* name) {
            return [&seen, name](auto... values) {
                seen << (QStringList{name} << QStringList{QVariant(values).toString()...}).join(' ');
            };
        };
        connect(e.get(), &AgoraRtcEngine::sigRelayStateChanged, this, record("relay"));
        connect(e.get(), &AgoraRtcEngine::sigRelayReconnecting, this, record("reconnecting"));
        connect(e.get(), &AgoraRtcEngine::sigRecordingDeviceChanged, this, record("device"));
        connect(e.get(), &AgoraRtcEngine::sigAcknowledgedTraffic, this, record("traffic"));
        std::thread sdkThread([] {
            ScriptedRtcBackend::withEventHandler([](IRtcEngineEventHandler* handler) {
                RtcStats stats;
                stats.txBytes = 4000000000u;
                stats.txKBitRate = 128;
                handler->onRtmpStreamingStateChanged("rtmp://h/live/a", kRtmpStateRecovering,
                                                     kRtmpErrorConnectionLost);
                handler->onRtmpStreamingReconnecting("rtmp://h/live/a", 2, 2000);
                handler->onAudioDeviceStateChanged("mic.\xc3\xa9", kAudioRecordingDevice,
                                                   kDeviceStateUnplugged);
                handler->onAudioDeviceStateChanged("speaker", kAudioPlayoutDevice, kDeviceStateUnplugged);
                handler->onRtcStats(stats);
                handler->onRtcStats(stats);
            });
        });
        sdkThread.join();
        QVERIFY(seen.isEmpty()); // queued
        QTRY_COMPARE(seen.size(), 5);
        // The playout device is not ours.
        QCOMPARE(seen, QStringList({QStringLiteral("relay rtmp://h/live/a %1 %2")
                                        .arg(kRtmpStateRecovering)
                                        .arg(kRtmpErrorConnectionLost),
                                    "reconnecting rtmp://h/live/a 2 2000",
                                    QStringLiteral("device mic.\u00e9 %1").arg(kDeviceStateUnplugged),
                                    "traffic 4000000000 128", "traffic 4000000000 128"}));
        const QStringList lines = LogCapture::lines();
        QCOMPARE(lines.filter(QStringLiteral("onRtcStats")).size(), 1);
        QCOMPARE(lines.filter(QStringLiteral("onRtmpStreamingStateChanged")).size(), 1);

        // Events still queued when the engine goes are dropped with it.
        ScriptedRtcBackend::withEventHandler([](IRtcEngineEventHandler* handler) {
            handler->onRtmpStreamingReconnecting("rtmp://h/live/a", 3, 4000);
        });
        QPointer<QObject> alive(e.get());
        e.reset();
        QCoreApplication::processEvents();
        QVERIFY(seen.size() == 5 && !alive);
    }

    // A steady level reaches the GUI twenty more times, then once per twenty reports; any change
    // goes through at once and counts its repeats afresh.
    void steadyLevelsAreThinned()
    {
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
        QCOMPARE(levels.size(), 21 + 3 + 1 + 21);
        QCOMPARE(levels.mid(24, 2), QList<int>({60, 50}));
    }
};

QTEST_MAIN(tst_AgoraRtcEngine)
#include "tst_AgoraRtcEngine.moc"
