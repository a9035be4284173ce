// The engine wrapper against the scripted SDK: what reaches it, codes, devices, events and log lines.
#include "base/UserNotifier.h"
#include "base/VClock.h"
#include "config/VGlobalConfig.h"
#include "rtc/AgoraRtcEngine.h"
#include "rtc/AgoraRtcEngineEventHandler.h"
#include "rtc/sdk/IRtcEngine.h"
#include "support/LogCapture.h"
#include "support/ScriptedRtcBackend.h"
#include "support/TestEnv.h"

#include <QDir>
#include <QSignalSpy>
#include <QtTest>

#include <cstring>
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
    void setTime(int h, int m, int s) { m_now = QDateTime(QDate(2026, 12, 6), QTime(h, m, s)); }
    static ScriptedRtcBackend::Snapshot sdk() { return ScriptedRtcBackend::snapshot(); }
    static void fail(const QString& key, int code) { ScriptedRtcBackend::failCall(key, code); }
    static QVariantMap deviceMap(const QStringList& names, const QStringList& ids)
    {
        return {{"name", names}, {"guid", ids}, {"length", names.size()}};
    }

private Q_SLOTS:
    void initTestCase() { m_log = std::make_unique<LogCapture>(); }
    void cleanupTestCase() { m_log.reset(); }

    void init()
    {
        m_work = std::make_unique<TestEnv::ScopedWorkDir>();
        ScriptedRtcBackend::setEnabled(true);
        ScriptedRtcBackend::reset();
        ScriptedRtcBackend::setRelayAnswers(false); // only the events a test raises
        VGlobalConfig::instance()->setValue(QStringLiteral("pcmDump"), QString());
        VGlobalConfig::instance()->setValue(QStringLiteral("vaDetailLog"), QString());
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

    // An audio-only broadcaster with a dated SDK log; a failed initialisation is shown and logged.
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
        fail("initialize", initCode);
        {
            AgoraRtcEngine e;
            for (const QString& call :
                 QStringList{"initialize(" + appId + ", 4294967295, 1, handler)",
                             "setLogFile(./log/Agora/DuvevEzivIzave-20260309.log)", "disableVideo()",
                             "enableAudio()", "setChannelProfile(1)", "setClientRole(1)"})
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
                QCOMPARE(m_notifier.boxes, QStringList({"提示", "sdk初始化失败"}));
                fail("joinChannel", -17);
                QCOMPARE(e.joinChannel(QString(), QStringLiteral("room"), QStringLiteral("5")), -17);
            }
            ScriptedRtcBackend::clearCalls();
        }
        QCOMPARE(sdk().calls, QStringList({"IRtcEngine::release(false)"})); // once, not waiting
    }

    // The debug recording: by the exact text "true" read at construction, from join to leave.
    void joinAndLeave()
    {
        for (const QString& pcmDump : QStringList{"true", "TRUE", "true ", ""}) {
            const bool dump = pcmDump == "true";
            VGlobalConfig::instance()->setValue(QStringLiteral("pcmDump"), pcmDump);
            auto e = engine();
            VGlobalConfig::instance()->setValue(QStringLiteral("pcmDump"), QStringLiteral("true"));
            QCOMPARE(e->joinChannel(QString(), QStringLiteral("room1"), QStringLiteral("1234")), 0);
            const QStringList calls = sdk().calls;
            const int join = calls.indexOf(QStringLiteral("joinChannel(, room1, null, 1234)"));
            QVERIFY(join > 0 && calls.lastIndexOf(QRegularExpression("^setParameters")) < join);
            for (const char* call : {"setAudioProfile(5, 3)", "muteAllRemoteAudioStreams(true)",
                                     "enableWebSdkInteroperability(true)"})
                QVERIFY2(calls.mid(0, join).contains(QLatin1String(call)), call);
            QCOMPARE(sdk().calls.filter(QStringLiteral("start_debug_recording")).size(), dump ? 1 : 0);
            QCOMPARE(LogCapture::lines().contains(QStringLiteral("AgoraRtcEngine::setPcmDump true 0")), dump);
            QVERIFY(LogCapture::lines().contains(dump ? "setPcmDump true" : "setPcmDump false"));

            ScriptedRtcBackend::clearCalls();
            QCOMPARE(e->leaveChannel(), 0);
            QCOMPARE(sdk().calls.first(), QStringLiteral("leaveChannel()"));
            QCOMPARE(sdk().calls.filter(QStringLiteral("stop_debug_recording")).size(), dump ? 1 : 0);
        }
    }

    // Empty names never reach the SDK; the user id goes as a signed 32-bit number.
    void joinNames()
    {
        // (channel, user id, what the SDK is given: nothing when refused before it)
        // clang-format off
        const QStringList rows[] = {{"", "7", ""}, {"room", "", ""}, {"", "", ""}, {"room", "1234", "1234"},
            {"room", "abc", "0"}, {"room", "2147483648", "0"}, {"room", "2147483647", "2147483647"},
            {"room", "-10001", "4294957295"}};
        // clang-format on
        for (const QStringList& row : rows) {
            const QString &channel = row[0], &userId = row[1], &sent = row[2];
            auto e = engine();
            QVERIFY2(e->joinChannel(QStringLiteral("tok"), channel, userId) == (sent.isEmpty() ? -1 : 0),
                     qPrintable(userId));
            if (sent.isEmpty()) {
                QVERIFY(sdk().calls.isEmpty());
                QCOMPARE(LogCapture::lines(), QStringList("AgoraRtcEngine::joinChannel isEmpty \"tok\" \"" +
                                                          channel + "\" \"" + userId + '"'));
            } else {
                QCOMPARE(sdk().count("joinChannel(tok, room, null, " + sent + ")"), 1);
            }
        }
    }

    void joinWithoutParameterInterfaceStillJoins()
    {
        VGlobalConfig::instance()->setValue(QStringLiteral("pcmDump"), QStringLiteral("true"));
        auto e = engine();
        fail("queryInterface(3)", -4);
        fail("joinChannel", -17);
        QCOMPARE(e->joinChannel(QStringLiteral("t"), QStringLiteral("room"), QStringLiteral("9")), -17);
        QCOMPARE(sdk().count(QStringLiteral("setParameters")), 0);
        QCOMPARE(sdk().count(QStringLiteral("joinChannel(t, room, null, 9)")), 1);
        QCOMPARE(e->setPcmDump(true), -1);
        ScriptedRtcBackend::clearFailures();
        fail("setParameters", -2);
        QCOMPARE(e->setPcmDump(false), -2);
        QCOMPARE(LogCapture::linesStartingWith(QStringLiteral("AgoraRtcEngine::setPcmDump")),
                 QStringList("AgoraRtcEngine::setPcmDump false -2"));
    }

    // Values reach the SDK unchanged (it decides the range) and its codes come back; each is logged.
    void valuesPassThrough()
    {
        for (const int volume : {0, 100, 400, 401, -5}) {
            const int code = volume >= 0 && volume <= 400 ? 0 : -2;
            ScriptedRtcBackend::reset();
            auto e = engine();
            QCOMPARE(e->adjustRecordingSignalVolume(volume), code);
            QCOMPARE(sdk().volume, code == 0 ? volume : 100);
            QCOMPARE(LogCapture::lines(),
                     QStringList("AgoraRtcEngine::adjustRecordingSignalVolume " + QString::number(volume)));
            fail("muteLocalAudioStream(true)", -3);
            QCOMPARE(e->muteLocalAudioStream(true), -3);
            QCOMPARE(e->muteLocalAudioStream(false), 0);
            fail("enableWebSdkInteroperability(true)", -9);
            QCOMPARE(e->enableWebSdkInteroperability(), -9);
        }
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
        QVERIFY2(line.size() < 2148 && line.contains("(100014 bytes)"), qPrintable(line.left(80)));
    }

    // A device whose query fails is left out; without devices or interfaces the map is empty.
    void deviceMap()
    {
        ScriptedRtcBackend::setRecordingDevices(
            {{"麦克风 (USB)", "usb.mic"}, {"Line In", "line.in"}, {"Monitor (default)", "null.monitor"}});
        auto e = engine();
        QCOMPARE(e->recordingDevices(), deviceMap({"麦克风 (USB)", "Line In", "Monitor (default)"},
                                                  {"usb.mic", "line.in", "null.monitor"}));
        fail("getDevice(1)", -1);
        QCOMPARE(e->recordingDevices(),
                 deviceMap({"麦克风 (USB)", "Monitor (default)"}, {"usb.mic", "null.monitor"}));
        fail("getDevice", -1);
        QCOMPARE(e->recordingDevices(), deviceMap({}, {}));
        for (const char* key : {"getCount", "enumerateRecordingDevices", "queryInterface(1)"}) {
            ScriptedRtcBackend::clearFailures();
            fail(key, -5);
            QVERIFY2(e->recordingDevices().isEmpty(), key);
        }
        ScriptedRtcBackend::clearFailures();
        ScriptedRtcBackend::setRecordingDevices({});
        QVERIFY(e->recordingDevices().isEmpty());

        QCOMPARE(e->setRecordingDevice(QString()), -1);
        QCOMPARE(e->setRecordingDevice("line.in"), -5); // gone from the system
        ScriptedRtcBackend::setRecordingDevices({{"Line In", "line.in"}});
        QCOMPARE(e->setRecordingDevice("line.in"), 0);
        QCOMPARE(sdk().recordingDevice, QStringLiteral("line.in"));
        fail("queryInterface(1)", -3);
        QCOMPARE(e->setRecordingDevice("line.in"), -1);
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

    // Events from the SDK's thread reach the GUI thread queued, unthrottled; the log keeps its throttle.
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
                stats.txBytes = 4000000000u, stats.txKBitRate = 128;
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
        QVERIFY(seen.isEmpty());      // queued
        QTRY_COMPARE(seen.size(), 5); // the playout device is not ours
        QCOMPARE(seen, QStringList({"relay rtmp://h/live/a 3 4", "reconnecting rtmp://h/live/a 2 2000",
                                    QStringLiteral("device mic.\u00e9 %1").arg(kDeviceStateUnplugged),
                                    "traffic 4000000000 128", "traffic 4000000000 128"}));
        QCOMPARE(
            LogCapture::lines().filter(QRegularExpression("^on(RtcStats|RtmpStreamingStateChanged)")).size(),
            2);

        // Events still queued when the engine goes are dropped with it.
        ScriptedRtcBackend::withEventHandler([](IRtcEngineEventHandler* handler) {
            handler->onRtmpStreamingReconnecting("rtmp://h/live/a", 3, 4000);
        });
        QPointer<QObject> alive(e.get());
        e.reset();
        QCoreApplication::processEvents();
        QVERIFY(seen.size() == 5 && !alive);
    }

    // A steady level goes out 20 more times, then once a second (however seldom it comes: silence that
    // lasts is still told); a change goes at once.
    void steadyLevelsAreThinned()
    {
        auto e = engine();
        QList<int> levels;
        qint64 nowMs = 0;
        VClock::setMonotonicClock([&nowMs] { return nowMs; });
        connect(e.get(), &AgoraRtcEngine::sigCaptureLevel, this, [&](int level) { levels << level; });
        ScriptedRtcBackend::withEventHandler([&nowMs](IRtcEngineEventHandler* handler) {
            AudioVolumeInfo speaker;
            for (int i = 0; i < 100; ++i, nowMs += 50) // five seconds at the meter's pace
                handler->onAudioVolumeIndication(&speaker, 1, 50);
            handler->onAudioVolumeIndication(&speaker, 1, 60);
            for (int i = 0; i < 25; ++i, nowMs += 2000) // the statistics' pace
                handler->onAudioVolumeIndication(&speaker, 1, 50);
        });
        VClock::setMonotonicClock(nullptr);
        QCoreApplication::processEvents();
        QCOMPARE(levels.size(), 21 + 3 + 1 + 25);
        QCOMPARE(levels.mid(24, 2), QList<int>({60, 50}));
    }

    void statisticsAreThrottledPerCallbackAndMinute()
    {
        setTime(10, 15, 30);
        AgoraRtcEngineEventHandler handler(nullptr);
        RtcStats stats;
        handler.onRtcStats(stats);
        setTime(10, 15, 59);
        handler.onRtcStats(stats);
        QCOMPARE(LogCapture::linesStartingWith("onRtcStats").size(), 1);
        // Each has its own stamp: the others still log once in this minute.
        for (int i = 1; i <= 2; ++i) {
            handler.onNetworkQuality(1, 2, 3);
            handler.onLocalAudioStats(LocalAudioStats());
            handler.onAudioVolumeIndication(nullptr, 0, i);
        }
        QVERIFY(LogCapture::contains("onAudioVolumeIndication \"\" 0 1")); // no speakers: an empty list
        for (const char* name : {"onNetworkQuality", "onLocalAudioStats", "onAudioVolumeIndication"})
            QVERIFY2(LogCapture::linesStartingWith(name).size() == 1, name);

        setTime(10, 16, 0);
        handler.onRtcStats(stats);
        QCOMPARE(LogCapture::linesStartingWith("onRtcStats").size(), 2);
        // Same minute of another hour or day is a different stamp.
        setTime(11, 16, 0);
        handler.onRtcStats(stats);
        QCOMPARE(LogCapture::linesStartingWith("onRtcStats").size(), 3);
        // Leaving is never throttled.
        handler.onLeaveChannel(stats);
        handler.onLeaveChannel(stats);
        QCOMPARE(LogCapture::linesStartingWith("onLeaveChannel").size(), 2);
    }

    // The detail switch is the exact text "true", read once at construction.
    void detailLogSwitchIsExact()
    {
        for (const QString& value : QStringList{"true", "TRUE", "1", ""}) {
            VGlobalConfig::instance()->setValue(QStringLiteral("vaDetailLog"), value);
            AgoraRtcEngineEventHandler handler(nullptr);
            VGlobalConfig::instance()->setValue(QStringLiteral("vaDetailLog"), QStringLiteral("true"));
            LogCapture::clear();
            for (int i = 0; i < 3; ++i)
                handler.onNetworkQuality(7, 1, 1);
            QCOMPARE(LogCapture::linesStartingWith("onNetworkQuality").size(), value == "true" ? 3 : 1);
        }
    }

    void textsAreLatin1AndNeverReadPastTheirBuffers()
    {
        AgoraRtcEngineEventHandler handler(nullptr);
        handler.onWarning(5, nullptr);
        handler.onError(-3, "caf\xe9");
        handler.onJoinChannelSuccess("room", 4294967295u, 12);
        handler.onApiCallExecuted(0, "api", nullptr);
        // A stream message is a byte buffer: stop at its length or at its first zero.
        const char message[] = {'a', 'b', 'c', 'd', 'e', 'f'};
        handler.onStreamMessage(1, 2, message, 3);
        handler.onStreamMessage(1, 2, "ab\0cd", 5);
        handler.onStreamMessage(1, 2, nullptr, 0);
        // An account that fills its whole array without a terminating zero.
        UserInfo info;
        info.uid = 42;
        std::memset(info.userAccount, 'x', sizeof(info.userAccount));
        handler.onUserInfoUpdated(41, info);
        AudioVolumeInfo speakers[2] = {{1, 20, 0}, {2, 30, 1}};
        handler.onAudioVolumeIndication(speakers, 2, 50);

        QCOMPARE(
            LogCapture::lines(),
            QStringList(
                {"onWarning 5 \"\"", QStringLiteral("onError -3 \"caf\u00e9\""),
                 "onJoinChannelSuccess \"room\" 4294967295 12", "onApiCallExecuted 0 \"api\" \"\"",
                 "onStreamMessage 1 2 \"abc\" 3", "onStreamMessage 1 2 \"ab\" 5",
                 "onStreamMessage 1 2 \"\" 0",
                 QStringLiteral("onUserInfoUpdated 41 42 \"%1\"").arg(QString(kMaxUserAccountLength, 'x')),
                 "onAudioVolumeIndication \"1,20,0|2,30,1\" 2 50"}));
    }

    // The SDK's texts are cut for the log at 2 KB, with their length.
    void longTextsAreCapped()
    {
        for (const int length : {2047, 2048, 2049, 1 << 20}) {
            const std::string text(size_t(length), 'e');
            AgoraRtcEngineEventHandler handler(nullptr);
            LogCapture::clear();
            handler.onError(-1, text.c_str());
            handler.onStreamMessage(1, 2, text.data(), size_t(length));
            const QStringList lines = LogCapture::lines();
            QCOMPARE(lines.size(), 2);
            for (const QString& line : lines) {
                QCOMPARE(line.contains(QStringLiteral("…(%1 bytes)").arg(length)), length > 2048);
                QVERIFY(line.size() < 2048 + 64);
            }
        }
    }
};

QTEST_MAIN(tst_AgoraRtcEngine)
#include "tst_AgoraRtcEngine.moc"
