// The push workflow without any widget, its clocks the test's: the service's answers, the engine's events.
#include "support/ManualClock.h"
#include "support/PushServiceDouble.h"
#include "support/ScriptedRtcBackend.h"
#include "support/SessionDriver.h"
#include "support/TestEnv.h"

#include "rtc/sdk/IRtcEngineEventHandler.h"
#include "workflow/MuPushWorkflow.h"

#include <QSignalSpy>
#include <QtTest>

#include <memory>

using agora::rtc::IRtcEngineEventHandler;
using agora::rtc::ScriptedRtcBackend;
using namespace PushServiceDouble;

static const QByteArray kStreamUrl = "rtmp://127.0.0.1:1935/live/room42";

// Raises SDK callbacks the way the real backend does: from a thread of its own.
static void raise(const std::function<void(IRtcEngineEventHandler*)>& callback)
{
    std::thread sdk([callback] { QVERIFY(ScriptedRtcBackend::withEventHandler(callback)); });
    sdk.join();
    QCoreApplication::processEvents(); // what the SDK's thread queued
}

class tst_MuPushWorkflow : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_dir.reset(new TestEnv::ScopedWorkDir);
        ScriptedRtcBackend::setEnabled(true);
        ScriptedRtcBackend::reset();
        ScriptedRtcBackend::setRelayAnswers(false); // the tests raise the relay's events
        m_service.reset(new Service);
        m_service->setUp(true);
        m_workflow.reset(new MuPushWorkflow);
        m_clock.reset(new ManualClock(QDateTime(QDate(2026, 12, 6), QTime(20, 0, 0)), 1000000));
        m_messages.reset(new QSignalSpy(m_workflow.get(), &MuPushWorkflow::sigMessage));
    }

    void cleanup()
    {
        m_messages.reset();
        m_workflow.reset();
        m_service.reset();
        m_clock.reset();
        MuSettings::destroyInstance();
        m_dir.reset();
    }

    // Every answer that ends a step (entering, starting, a heartbeat) and what the window is told.
    void serviceAnswers_data()
    {
        QTest::addColumn<int>("fromState");
        QTest::addColumn<QString>("op");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("state");
        QTest::addColumn<QString>("line1");
        QTest::addColumn<QString>("line2");
        const QString enter = "checkEnterRoom", push = "changeLiveStatus", heartbeat = "checkLiveStatus";
        const QString noRoom = "要进入任意语音房间才能推流哦", stopped = "小助手停止了推流";
        // clang-format off
        QTest::newRow("enter: not in a room") << 1 << enter << envelope(3100, "nope") << 1 << noRoom << "";
        QTest::newRow("enter: nonsense") << 1 << enter << QByteArray("<html>") << 1 << noRoom << "";
        QTest::newRow("enter: service down") << 1 << enter << kDown << 1 << "网络异常" << "";
        QTest::newRow("enter: 3191") << 1 << enter << envelope(3191, "请重新登录") << 0 << "请重新登录" << "";
        QTest::newRow("enter: 3190") << 1 << enter << envelope(3190, "登录过期") << 0 << "登录过期" << "";
        QTest::newRow("enter: 3189") << 1 << enter << envelope(3189, "x") << 1 << noRoom << "";
        QTest::newRow("enter: 3192") << 1 << enter << envelope(3192, "x") << 1 << noRoom << "";
        QTest::newRow("push: 3194") << 2 << push << envelope(3194, "房间已关闭推流") << 2 << "房间已关闭推流" << "";
        QTest::newRow("push: refused") << 2 << push << envelope(3000, "x") << 2 << "无法推流" << "原因：APP不在麦上、已被禁麦";
        QTest::newRow("push: service down") << 2 << push << kDown << 2 << "网络异常" << "";
        QTest::newRow("push: no envelope") << 2 << push << QByteArray("<html>") << 2 << "网络异常" << "";
        QTest::newRow("push: 3190") << 2 << push << envelope(3190, "登录过期") << 0 << "登录过期" << "";
        QTest::newRow("push: 3191") << 2 << push << envelope(3191, "请重新登录") << 0 << "请重新登录" << "";
        QTest::newRow("push: 3193") << 2 << push << envelope(3193, "x") << 2 << "无法推流" << "原因：APP不在麦上、已被禁麦";
        QTest::newRow("push: code 0") << 2 << push << envelope(0) << 2 << "无法推流" << "原因：APP不在麦上、已被禁麦";
        QTest::newRow("push: no code") << 2 << push << QByteArray("{\"msg\":\"x\"}") << 2 << "网络异常" << "";
        QTest::newRow("push: HTTP 500") << 2 << push << "HTTP 500 " + envelope(1) << 2 << "网络异常" << "";
        QTest::newRow("push: HTTP 404 with 3194") << 2 << push << "HTTP 404 " + envelope(3194, "x") << 2 << "网络异常" << "";
        QTest::newRow("push: HTTP 502, empty") << 2 << push << QByteArray("HTTP 502 ") << 2 << "网络异常" << "";
        QTest::newRow("beat: 3192 pushing") << 3 << heartbeat << envelope(3192, "服务说明") << 1 << "服务说明" << stopped;
        QTest::newRow("beat: 3192 room confirmed") << 2 << heartbeat << envelope(3192, "服务说明") << 1 << "服务说明" << stopped;
        QTest::newRow("beat: 3192 entering") << 1 << heartbeat << envelope(3192, "服务说明") << 1 << "" << "";
        QTest::newRow("beat: 3193 entering") << 1 << heartbeat << envelope(3193, "服务说明") << 1 << "" << "";
        QTest::newRow("beat: 3191 entering") << 1 << heartbeat << envelope(3191, "服务说明") << 0 << "服务说明" << "";
        QTest::newRow("beat: 3193 pushing") << 3 << heartbeat << envelope(3193, "服务说明") << 2 << "服务说明" << stopped;
        QTest::newRow("beat: 3193 room confirmed") << 2 << heartbeat << envelope(3193, "服务说明") << 2 << "" << "";
        QTest::newRow("beat: 3190 pushing") << 3 << heartbeat << envelope(3190, "服务说明") << 0 << "服务说明" << "";
        QTest::newRow("beat: 3191 room confirmed") << 2 << heartbeat << envelope(3191, "服务说明") << 0 << "服务说明" << "";
        QTest::newRow("beat: 3191 pushing") << 3 << heartbeat << envelope(3191, "服务说明") << 0 << "服务说明" << "";
        QTest::newRow("beat: 3163 pushing") << 3 << heartbeat << envelope(3163, "服务说明") << 3 << "" << "";
        QTest::newRow("beat: 3163 room confirmed") << 2 << heartbeat << envelope(3163, "服务说明") << 2 << "" << "";
        QTest::newRow("beat: 3162 pushing") << 3 << heartbeat << envelope(3162, "服务说明") << 3 << "" << "";
        QTest::newRow("beat: 3164 pushing") << 3 << heartbeat << envelope(3164, "服务说明") << 3 << "" << "";
        QTest::newRow("beat: 3189 pushing") << 3 << heartbeat << envelope(3189, "服务说明") << 3 << "" << "";
        QTest::newRow("beat: 3194 pushing") << 3 << heartbeat << envelope(3194, "服务说明") << 3 << "" << "";
        QTest::newRow("beat: unknown code") << 3 << heartbeat << envelope(4000, "服务说明") << 3 << "" << "";
        // clang-format on
    }

    void serviceAnswers()
    {
        QFETCH(int, fromState);
        QFETCH(QString, op);
        QFETCH(QByteArray, reply);
        QFETCH(int, state);
        QFETCH(QString, line1);
        QFETCH(QString, line2);
        startSession(fromState);
        const int joins = ScriptedRtcBackend::callCount(QStringLiteral("joinChannel"));
        QSignalSpy states(m_workflow.get(), &MuPushWorkflow::sigStateChanged);
        QSignalSpy muteLooks(m_workflow.get(), &MuPushWorkflow::sigMuteLook);
        if (reply == kDown)
            m_service->setUp(false);
        else
            m_service->once[op] << reply;
        op == QLatin1String("checkLiveStatus") ? beat() : m_workflow->pushButton();

        QCOMPARE(m_workflow->pushState(), state);
        // The box's lines, and whether dismissing it goes back to the login window.
        QCOMPARE(m_messages->value(0),
                 line1.isEmpty() ? QVariantList() : QVariantList({line1, line2, state == 0}));
        QCOMPARE(m_messages->size(), int(!line1.isEmpty()));
        // The window hears of every state it must show, and hides the mute button outside a push.
        if (state != fromState && state != 0)
            QCOMPARE(states.last().at(0).toInt(), state);
        if (fromState == 3 && state != 3 && state != 0)
            QCOMPARE(muteLooks.last().at(0).toBool(), false);
        // Joined and relayed only while pushing, no second join; only the ban mutes, and only a push.
        const auto sdk = ScriptedRtcBackend::snapshot();
        const bool banned = QByteArray(QTest::currentDataTag()).startsWith("beat: 3163");
        QCOMPARE(
            QVariantList({sdk.joined, sdk.publishedUrls.size(), ScriptedRtcBackend::callCount("joinChannel"),
                          sdk.localMuted, m_workflow->isMicBanned(), m_workflow->rtcEngine() != nullptr,
                          sdk.liveEngines, roomChannel()}),
            QVariantList({state == 3, int(state == 3), joins, banned && fromState == 3, banned, state != 0,
                          int(state != 0), state >= 2 ? QStringLiteral("room42") : QString()}));
        if (state == 0) { // not told "not live" on a forced exit, and the heartbeat is over
            QVERIFY(!m_service->values("changeLiveStatus", "liveStatus").contains("2"));
            const int checks = m_service->count("checkLiveStatus");
            beat();
            QCOMPARE(m_service->count("checkLiveStatus"), checks);
        }
    }

    // While pushing, the status line says what the engine reports; the service hears nothing of it.
    void statusLineFollowsTheEngine()
    {
        QSignalSpy connected(m_workflow.get(), &MuPushWorkflow::sigPushConnected);
        startSession(PanelStatePushing);
        QCOMPARE(m_workflow->statusLine(), QString()); // the window says it is connecting
        relay(agora::rtc::kRtmpStateRunning);
        QTRY_COMPARE(m_workflow->statusLine(), QStringLiteral("已推流 00:00:00"));
        QCOMPARE(connected.size(), 2);
        QVERIFY(!connected.first().at(0).toBool() && connected.last().at(0).toBool());
        agora::rtc::RtcStats stats;
        stats.txKBitRate = 131;
        raise([stats](IRtcEngineEventHandler* h) { h->onRtcStats(stats); });
        m_clock->advance(3723 * 1000);
        tick(); // the line's own (real) one-second tick
        QCOMPARE(m_workflow->statusLine(), QStringLiteral("已推流 01:02:03 · 131 kbps"));

        // Nothing captured for ten seconds: the host is told, until sound comes back; never while
        // muted (also after unmuting, the ten seconds start over).
        const QString silent = QStringLiteral("没有检测到声音，请检查录音设备和音量");
        const auto quietTenSeconds = [this] { // levels at zero every two seconds; a tick at each end
            for (int i = 0; i < 4; ++i)
                level(0, 2000);
            level(0, 1999);
            tick();
            const QString before = m_workflow->statusLine();
            m_clock->advance(1);
            tick();
            return QStringList({before, m_workflow->statusLine()});
        };
        QCOMPARE(quietTenSeconds(), QStringList({QStringLiteral("已推流 01:02:12 · 131 kbps"), silent}));
        level(3, 0);
        QVERIFY(m_workflow->statusLine().startsWith(QStringLiteral("已推流")));
        m_workflow->muteButton();
        QVERIFY(!quietTenSeconds().contains(silent));
        m_workflow->muteButton();
        QCOMPARE(quietTenSeconds().last(), silent);

        // The server goes: a countdown to the next attempt while it is more than a second away.
        relay(agora::rtc::kRtmpStateRecovering, agora::rtc::kRtmpErrorConnectionLost);
        reconnecting(1, 1000);
        QTRY_COMPARE(m_workflow->statusLine(), QStringLiteral("推流中断，正在重连（第 1 次）…"));
        reconnecting(3, 4000);
        QTRY_COMPARE(m_workflow->statusLine(), QStringLiteral("推流中断，4 秒后重连（第 3 次）…"));
        m_clock->advance(2500);
        QCOMPARE(m_workflow->statusLine(), QStringLiteral("推流中断，2 秒后重连（第 3 次）…"));
        m_clock->advance(600);
        QCOMPARE(m_workflow->statusLine(), QStringLiteral("推流中断，正在重连（第 3 次）…"));
        relay(agora::rtc::kRtmpStateRunning, 0, "rtmp://other/live/x"); // not this push's news
        QCOMPARE(m_workflow->statusLine(), QStringLiteral("推流中断，正在重连（第 3 次）…"));
        relay(agora::rtc::kRtmpStateRunning);
        QTRY_VERIFY(m_workflow->statusLine().startsWith(QStringLiteral("已推流 01:02:36")));

        localAudio(agora::rtc::kLocalAudioFailed, agora::rtc::kLocalAudioErrorRecordingFailure);
        QTRY_COMPARE(m_workflow->statusLine(), QStringLiteral("录音设备已断开"));
        localAudio(agora::rtc::kLocalAudioRecording, 0);
        QTRY_VERIFY(m_workflow->statusLine().startsWith(QStringLiteral("已推流")));

        QCOMPARE(m_service->count("changeLiveStatus"), 1); // only the push's start
        QCOMPARE(m_workflow->pushState(), int(PanelStatePushing));
        m_workflow->pushButton(); // ending the push empties the line
        QCOMPARE(m_workflow->statusLine(), QString());
    }

    // A push that never reaches its server is a failed start: the service hears "not live", state 2.
    // Once it has been live, a failure stays on the status line for the host to end the push.
    void unconnectedPushFails_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<int>("state");
        QTest::newRow("address refused") << "refused" << 2;
        QTest::newRow("relay gives up") << "failure" << 2;
        QTest::newRow("no answer for 10 s") << "timeout" << 2;
        QTest::newRow("gives up after running") << "ran" << 3;
    }
    void unconnectedPushFails()
    {
        QFETCH(QString, how);
        QFETCH(int, state);
        if (how == QLatin1String("refused"))
            ScriptedRtcBackend::failCall(QStringLiteral("addPublishStreamUrl"), -2);
        startSession(how == QLatin1String("refused") ? PanelStateStartPush : PanelStatePushing);
        if (how == QLatin1String("refused"))
            m_workflow->pushButton();
        if (how == QLatin1String("ran"))
            relay(agora::rtc::kRtmpStateRunning);
        if (how == QLatin1String("timeout")) {
            reconnecting(2, 2000);
            QCOMPARE(m_workflow->statusLine(), QStringLiteral("连接推流服务器失败，2 秒后重试（第 2 次）…"));
            m_clock->advance(9999);
            tick();
            QCOMPARE(m_workflow->pushState(), int(PanelStatePushing));
            m_clock->advance(1);
            tick();
        } else if (how != QLatin1String("refused")) {
            relay(agora::rtc::kRtmpStateFailure, agora::rtc::kRtmpErrorConnectionFailed);
        }
        QTRY_COMPARE(m_workflow->pushState(), state);
        const auto sdk = ScriptedRtcBackend::snapshot();
        if (state == PanelStatePushing) {
            QCOMPARE(m_workflow->statusLine(), QStringLiteral("推流失败，请结束直播后重试"));
            QCOMPARE(m_service->values("changeLiveStatus", "liveStatus"), QStringList({"1"}));
            return;
        }
        QCOMPARE(m_messages->value(0), QVariantList({"推流失败", QString(), false}));
        QCOMPARE(m_service->values("changeLiveStatus", "liveStatus"), QStringList({"1", "2"}));
        QVERIFY(!sdk.joined && sdk.publishedUrls.isEmpty() && m_workflow->statusLine().isEmpty());
    }

    // The session ends while the relay is reconnecting: nothing of the old engine reaches it.
    void endingWhileReconnecting_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("stop") << "stop";
        QTest::newRow("close") << "close";
        QTest::newRow("3190") << "3190";
    }
    void endingWhileReconnecting()
    {
        QFETCH(QString, how);
        startSession(PanelStatePushing);
        reconnecting(2, 2000);
        QTRY_VERIFY(m_workflow->statusLine().contains(QStringLiteral("第 2 次")));
        if (how == QLatin1String("stop"))
            m_workflow->pushButton();
        else if (how == QLatin1String("close"))
            QVERIFY(m_workflow->exitSession(true));
        else
            beat(envelope(3190, "登录过期"));
        const auto sdk = ScriptedRtcBackend::snapshot();
        QVERIFY(!sdk.joined && sdk.publishedUrls.isEmpty() && m_workflow->statusLine().isEmpty());
        QCOMPARE(sdk.liveEngines, how == QLatin1String("stop") ? 1 : 0);
        if (how == QLatin1String("stop"))
            QCOMPARE(sdk.count(QStringLiteral("removePublishStreamUrl")), 1);
    }

    // Sixty seconds of failing heartbeats end a session; an answer or a new (clean) session restart the
    // count.
    void networkFailuresAndASecondSession()
    {
        startSession(PanelStatePushing);
        relay(agora::rtc::kRtmpStateRunning);
        reconnecting(2, 2000);
        QTRY_VERIFY(m_workflow->statusLine().contains(QStringLiteral("第 2 次")));
        m_service->setUp(false);
        for (int i = 0; i < 29; ++i)
            beat(); // the first failure starts the count: 56 s
        beat({}, 3000);
        m_service->setUp(true);
        beat(envelope(3163, "禁麦")); // an answer ends the run
        m_service->setUp(false);
        beat();
        beat({}, 59000);
        QVERIFY(m_workflow->pushState() == PanelStatePushing && m_workflow->isMicBanned()); // banned, failing
        QVERIFY(m_workflow->exitSession(true));

        m_service->setUp(true);
        startSession(PanelStatePushing);
        QVERIFY(!m_workflow->isMuted() && !m_workflow->isMicBanned() &&
                !ScriptedRtcBackend::snapshot().localMuted);
        QCOMPARE(m_workflow->statusLine(), QString());
        relay(agora::rtc::kRtmpStateRunning);
        m_service->setUp(false);
        beat();
        beat({}, 59000);
        QVERIFY(m_workflow->pushState() == PanelStatePushing && m_messages->isEmpty());
        beat({}, 1000);
        QCOMPARE(m_workflow->pushState(), int(PanelStateIdle));
        QCOMPARE(m_messages->size(), 1); // back to the login window when dismissed:
        QCOMPARE(m_messages->first(), QVariantList({"网络异常，请重新登录", QString(), true}));
        QVERIFY(!ScriptedRtcBackend::snapshot().joined && !m_workflow->rtcEngine());
    }

private:
    static void relay(int state, int error = 0, const QByteArray& url = kStreamUrl)
    {
        raise([=](IRtcEngineEventHandler* h) { h->onRtmpStreamingStateChanged(url, state, error); });
    }
    static void localAudio(int state, int error)
    {
        raise([=](IRtcEngineEventHandler* h) { h->onLocalAudioStateChanged(state, error); });
    }
    static void reconnecting(int attempt, int delayMs)
    {
        raise(
            [=](IRtcEngineEventHandler* h) { h->onRtmpStreamingReconnecting(kStreamUrl, attempt, delayMs); });
    }
    void level(int volume, qint64 afterMs)
    {
        raise([=](IRtcEngineEventHandler* h) {
            agora::rtc::AudioVolumeInfo speaker;
            speaker.volume = static_cast<unsigned int>(volume);
            h->onAudioVolumeIndication(&speaker, 1, volume);
        });
        m_clock->advance(afterMs);
    }
    void tick() { SessionDriver::fireTimers(m_workflow.get(), 1000); }
    void startSession(int state)
    {
        saveLogin();
        m_workflow->startSession();
        for (int s = PanelStateEnterRoom; s < state; ++s)
            m_workflow->pushButton();
        QCOMPARE(m_workflow->pushState(), state);
        m_messages->clear();
    }
    void beat(const QByteArray& answer = {}, qint64 advanceMs = 2000)
    {
        if (!answer.isEmpty())
            m_service->once["checkLiveStatus"] << answer;
        m_clock->advance(advanceMs);
        m_workflow->heartbeat();
    }

    std::unique_ptr<TestEnv::ScopedWorkDir> m_dir;
    std::unique_ptr<Service> m_service;
    std::unique_ptr<MuPushWorkflow> m_workflow;
    std::unique_ptr<QSignalSpy> m_messages;
    std::unique_ptr<ManualClock> m_clock;
};

QTEST_MAIN(tst_MuPushWorkflow)
#include "tst_MuPushWorkflow.moc"
