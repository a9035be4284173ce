#include "net/http/TestHttpServer.h"
#include "support/TestEnv.h"

#include "base/MuSettings.h"
#include "base/VClock.h"
#include "service/MuServer.h"
#include "support/ScriptedRtcBackend.h"
#include "ui/MuMsgboxEx.h"
#include "ui/MuVoicePanel.h"
#include "ui/MuVozedIvazerida.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QUrlQuery>
#include <QtTest>

#include <memory>

using agora::rtc::ScriptedRtcBackend;

namespace {

const QString kRoomId = QStringLiteral("room42");
const QString kTextState2 = QStringLiteral("请创建房间或在别的房间上麦，然后点击开始推流开始直播");
const QByteArray kDown = "down"; // stands for a service that is not running

QByteArray envelope(int code, const QString& msg = QString(), const QByteArray& data = "{}")
{
    return "{\"code\":" + QByteArray::number(code) + ",\"msg\":\"" + msg.toUtf8() + "\",\"data\":" + data +
           "}";
}

// A cooperative answer per endpoint, one-shot answers queued on top, every query recorded.
struct PushService
{
    PushService()
    {
        defaults = {
            {"checkEnterRoom", envelope(1, {}, "{\"roomId\":\"room42\"}")},
            {"changeLiveStatus", envelope(1, {}, "{\"streamUrl\":\"rtmp://127.0.0.1:1935/live/room42\"}")},
            {"checkLiveStatus", envelope(1, {}, "{\"closeMic\":false}")},
            {"mute", envelope(1)}};
        http.setResponder([this](const TestHttpServer::Request& request) {
            const QUrl url(QString::fromUtf8(request.target));
            const QString op = url.path().section(QLatin1Char('/'), -1);
            queries[op] << QUrlQuery(url);
            QList<QByteArray>& queued = once[op];
            return TestHttpServer::Answer{200, queued.isEmpty() ? defaults.value(op) : queued.takeFirst(),
                                          false, delayMs};
        });
    }
    int count(const QString& op) const { return queries.value(op).size(); }
    QString value(const QString& op, const QString& key, int index = -1) const
    {
        const QList<QUrlQuery> list = queries.value(op);
        return list.value(index < 0 ? list.size() + index : index).queryItemValue(key);
    }

    TestHttpServer http;
    QMap<QString, QByteArray> defaults;
    QMap<QString, QList<QByteArray>> once;
    QMap<QString, QList<QUrlQuery>> queries;
    int delayMs = 0;
};

} // namespace

class tst_MuVoicePanel : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_dir.reset(new TestEnv::ScopedWorkDir);
        ScriptedRtcBackend::setEnabled(true);
        ScriptedRtcBackend::reset();
        m_service.reset(new PushService);
        serviceUp(true);
        m_login.reset(new MuVozedIvazerida);
        m_panel = m_login->voicePanel();
        m_wall = QDateTime(QDate(2026, 12, 6), QTime(20, 0, 0));
        m_steadyMs = 1000000;
        VClock::setWallClock([this]() { return m_wall; });
        VClock::setMonotonicClock([this]() { return m_steadyMs; });
    }

    void cleanup()
    {
        m_panel->messageBox()->hide();
        m_login.reset();
        VClock::setWallClock({});
        VClock::setMonotonicClock({});
        m_service.reset();
        MuSettings::destroyInstance();
        m_dir.reset();
    }

    void joinChannelFailureTellsServiceNotLive()
    {
        startSession(PanelStateStartPush);
        ScriptedRtcBackend::failCall(QStringLiteral("joinChannel"), -17);
        press("pushButton_push");
        checkState(2, "开始推流");
        QCOMPARE(line("label_line1"), QStringLiteral("推流失败"));
        QCOMPARE(m_service->count("changeLiveStatus"), 2);
        QCOMPARE(m_service->value("changeLiveStatus", "liveStatus", 0), QStringLiteral("1"));
        QCOMPARE(m_service->value("changeLiveStatus", "liveStatus", 1), QStringLiteral("2"));
        QCOMPARE(ScriptedRtcBackend::callCount(QStringLiteral("addPublishStreamUrl")), 0);
        QVERIFY(button("pushButton_mute")->isHidden());
        QVERIFY(button("pushButton_push")->isEnabled());

        dismissBox();
        ScriptedRtcBackend::clearFailures();
        press("pushButton_push");
        QCOMPARE(m_panel->pushState(), int(PanelStatePushing));
    }

    // The drop-down picks the last device whose name holds "default" in any case, else the first.
    void deviceChoice_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<int>("chosen");
        QTest::newRow("last default wins") << QStringList{"Mic", "Default Mic", "USB (default)"} << 2;
        QTest::newRow("no default") << QStringList{"Mic A", "Mic B"} << 0;
        QTest::newRow("none") << QStringList{} << -1;
    }
    void deviceChoice()
    {
        QFETCH(QStringList, names);
        QFETCH(int, chosen);
        QList<ScriptedRtcBackend::Device> devices;
        for (int i = 0; i < names.size(); ++i)
            devices.append({names.at(i), QStringLiteral("id%1").arg(i)});
        ScriptedRtcBackend::setRecordingDevices(devices);
        startSession();
        QCOMPARE(m_panel->findChild<QComboBox*>("comboBox_device")->currentIndex(), chosen);
        QCOMPARE(ScriptedRtcBackend::recordingDevice(),
                 chosen < 0 ? QString() : QStringLiteral("id%1").arg(chosen));
        QCOMPARE(ScriptedRtcBackend::recordingVolume(), 100); // applied even without a device
    }

    // A slider move reaches the engine and is remembered for this user only.
    void volumeRememberedPerUser()
    {
        startSession();
        m_panel->findChild<QSlider*>("horizontalSlider_volume")->setValue(37);
        QCOMPARE(m_panel->findChild<QLabel*>("label_volumenumber")->text(), QStringLiteral("37"));
        QCOMPARE(ScriptedRtcBackend::recordingVolume(), 37);
        m_panel->prepareSession();
        QCOMPARE(ScriptedRtcBackend::recordingVolume(), 37);
        MuSettings::instance()->saveLogin(QStringLiteral("10002"), QStringLiteral("x"),
                                          QStringLiteral("20002"));
        m_panel->prepareSession();
        QCOMPARE(ScriptedRtcBackend::recordingVolume(), 100);
    }

    // Every answer that ends a step (entering, starting, a heartbeat): what the panel shows, where
    // it stands, and that only a relogin code sends the user back when the box is dismissed.
    void serviceAnswers_data()
    {
        QTest::addColumn<int>("fromState");
        QTest::addColumn<QString>("op");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("state");
        QTest::addColumn<QString>("line1");
        QTest::addColumn<QString>("line2");
        const QString enter = "checkEnterRoom", push = "changeLiveStatus", heartbeat = "checkLiveStatus";
        const QString noRoom = "要进入任意语音房间才能推流哦", said = "服务说明",
                      stopped = "小助手停止了推流";
        // clang-format off
        QTest::newRow("enter: not in a room") << 1 << enter << envelope(3100, "nope") << 1 << noRoom << "";
        QTest::newRow("enter: nonsense") << 1 << enter << QByteArray("<html>") << 1 << noRoom << "";
        QTest::newRow("enter: service down") << 1 << enter << kDown << 1 << "网络异常" << "";
        QTest::newRow("enter: 3191") << 1 << enter << envelope(3191, "请重新登录") << 0 << "请重新登录" << "";
        QTest::newRow("push: 3194") << 2 << push << envelope(3194, "房间已关闭推流") << 2 << "房间已关闭推流" << "";
        QTest::newRow("push: refused") << 2 << push << envelope(3000, "x") << 2 << "无法推流" << "原因：APP不在麦上、已被禁麦";
        QTest::newRow("push: service down") << 2 << push << kDown << 2 << "网络异常" << "";
        QTest::newRow("push: 3190") << 2 << push << envelope(3190, "登录过期") << 0 << "登录过期" << "";
        QTest::newRow("beat: 3192 pushing") << 3 << heartbeat << envelope(3192, said) << 1 << said << stopped;
        QTest::newRow("beat: 3192 room confirmed") << 2 << heartbeat << envelope(3192, said) << 1 << said << stopped;
        QTest::newRow("beat: 3192 entering") << 1 << heartbeat << envelope(3192, said) << 1 << "" << "";
        QTest::newRow("beat: 3193 pushing") << 3 << heartbeat << envelope(3193, said) << 2 << said << stopped;
        QTest::newRow("beat: 3193 room confirmed") << 2 << heartbeat << envelope(3193, said) << 2 << "" << "";
        QTest::newRow("beat: 3190 pushing") << 3 << heartbeat << envelope(3190, said) << 0 << said << "";
        QTest::newRow("beat: 3191 room confirmed") << 2 << heartbeat << envelope(3191, said) << 0 << said << "";
        QTest::newRow("beat: unknown code") << 3 << heartbeat << envelope(4000, said) << 3 << "" << "";
        // clang-format on
    }

    void serviceAnswers()
    {
        QFETCH(int, fromState);
        QFETCH(QString, op);
        QFETCH(QByteArray, reply);
        QFETCH(int, state);
        QFETCH(QString, line1);
        const bool message = !line1.isEmpty();
        startSession(fromState);
        const int joins = ScriptedRtcBackend::callCount(QStringLiteral("joinChannel"));
        if (reply == kDown)
            serviceUp(false);
        else
            m_service->once[op] << reply;
        if (op == QLatin1String("checkLiveStatus"))
            beat();
        else
            press("pushButton_push");

        QCOMPARE(m_panel->pushState(), state);
        QCOMPARE(m_panel->messageBox()->isVisible(), message);
        QCOMPARE(m_panel->findChild<QWidget*>("VMonLayer")->isVisible(), message);
        if (message) {
            QCOMPARE(line("label_line1"), line1);
            QTEST(line("label_line2"), "line2");
        }
        QVERIFY(button("pushButton_push")->isEnabled());
        QCOMPARE(ScriptedRtcBackend::callCount(QStringLiteral("joinChannel")), joins);
        QCOMPARE(ScriptedRtcBackend::isJoined(), state == 3);
        QCOMPARE(ScriptedRtcBackend::publishedUrls().isEmpty(), state != 3);
        QCOMPARE(m_panel->rtcEngine() == nullptr, state == 0);
        QCOMPARE(roomChannel(), state >= 2 ? kRoomId : QString());
        if (state == 1 || state == 2) {
            QVERIFY(button("pushButton_mute")->isHidden());
            checkState(state, state == 1 ? "进入房间" : "开始推流", state == 1 ? QString() : kTextState2);
        }
        if (state == 0) {
            QCOMPARE(ScriptedRtcBackend::liveEngineCount(), 0);
            // Not told "not live" on a forced exit, and the heartbeat is over.
            QVERIFY(m_service->value("changeLiveStatus", "liveStatus") != QLatin1String("2"));
            const int checks = m_service->count("checkLiveStatus");
            beat();
            QCOMPARE(m_service->count("checkLiveStatus"), checks);
        }
        if (message) {
            // The box's close button counts as much as OK.
            QTest::mouseClick(m_panel->messageBox()->findChild<QPushButton*>("pushButton_close"),
                              Qt::LeftButton);
            QCOMPARE(m_login->isVisible(), state == 0);
            QCOMPARE(m_panel->isVisible(), state != 0);
            QVERIFY(m_panel->findChild<QWidget*>("VMonLayer")->isHidden());
        }
    }

    void micBanWhilePushing()
    {
        startSession(PanelStatePushing);
        QPushButton* mute = button("pushButton_mute");
        beat(envelope(3163, "禁麦"));
        QVERIFY(m_panel->isMuted());
        QVERIFY(ScriptedRtcBackend::isLocalAudioMuted());
        QCOMPARE(m_service->value("mute", "mute"), QStringLiteral("1"));
        QCOMPARE(mute->text(), QStringLiteral("禁麦中"));

        // Inert while banned, and a second ban report toggles nothing.
        press("pushButton_mute");
        beat(envelope(3163, "禁麦"));
        QVERIFY(ScriptedRtcBackend::isLocalAudioMuted());
        QCOMPARE(m_service->count("mute"), 1);
        QCOMPARE(mute->text(), QStringLiteral("禁麦中"));

        // A good heartbeat lifts the ban; the audio stays muted until the user unmutes.
        beat();
        QCOMPARE(mute->text(), QStringLiteral("静音中"));
        QVERIFY(ScriptedRtcBackend::isLocalAudioMuted());
        press("pushButton_mute");
        QVERIFY(!ScriptedRtcBackend::isLocalAudioMuted());
        QCOMPARE(mute->text(), QStringLiteral("静音"));
        QCOMPARE(m_service->value("mute", "mute"), QStringLiteral("0"));
    }

    void networkFailureCountsSixtySeconds()
    {
        startSession(PanelStatePushing);
        serviceUp(false);
        beat(); // the first failure starts the count
        for (int i = 0; i < 29; ++i)
            beat(2000);
        beat(1000); // 59 s
        QCOMPARE(m_panel->pushState(), int(PanelStatePushing));
        QVERIFY(!m_panel->messageBox()->isVisible());

        // A success restarts the count.
        serviceUp(true);
        beat(2000);
        serviceUp(false);
        beat(2000);
        beat(59000);
        QCOMPARE(m_panel->pushState(), int(PanelStatePushing));

        beat(1000); // 60 s since the failure that followed the success
        QCOMPARE(m_panel->pushState(), int(PanelStateIdle));
        QCOMPARE(line("label_line1"), QStringLiteral("网络异常，请重新登录"));
        QVERIFY(!ScriptedRtcBackend::isJoined());
        QVERIFY(!m_panel->rtcEngine());
        dismissBox();
        QVERIFY(m_login->isVisible());
        QVERIFY(!m_panel->isVisible());
    }

    void closingWhilePushing()
    {
        startSession(PanelStatePushing);
        m_panel->startHeartbeat();
        const QPoint panelAt = m_panel->frameGeometry().topLeft();
        press("pushButton_close");
        QVERIFY(!ScriptedRtcBackend::isJoined());
        QVERIFY(ScriptedRtcBackend::publishedUrls().isEmpty());
        QCOMPARE(m_service->value("changeLiveStatus", "liveStatus"), QStringLiteral("2"));
        QVERIFY(roomChannel().isEmpty());
        QCOMPARE(ScriptedRtcBackend::liveEngineCount(), 0);
        QCOMPARE(m_panel->pushState(), int(PanelStateIdle));
        QVERIFY(!m_panel->isVisible());
        QVERIFY(m_login->isVisible());
        QCOMPARE(m_login->pos(), panelAt);
        QVERIFY(!m_panel->messageBox()->isVisible());
        // The window's own close does the same, even with the service down.
        startSession(PanelStatePushing);
        serviceUp(false);
        QVERIFY(m_panel->close());
        QCOMPARE(m_panel->pushState(), int(PanelStateIdle));
        QVERIFY(!ScriptedRtcBackend::isJoined());
        QVERIFY(m_login->isVisible());
    }

    // Service calls wait in nested event loops: what happens meanwhile must not act on a panel
    // that is being left.
    void closeDuringSlowServiceCall()
    {
        startSession(PanelStateStartPush);
        m_service->delayMs = 300;
        bool closed = false; // a heartbeat comes while the push start waits, then the user closes
        QTimer::singleShot(50, this, [this]() { beat(); });
        QTimer::singleShot(100, this, [this, &closed]() {
            m_panel->sltClosePanel();
            closed = true;
        });
        press("pushButton_push");
        QVERIFY(closed);
        QCOMPARE(m_service->count("checkLiveStatus"), 0);
        QCOMPARE(m_panel->pushState(), int(PanelStateIdle));
        QCOMPARE(ScriptedRtcBackend::callCount(QStringLiteral("joinChannel")), 0);
        QVERIFY(!m_panel->messageBox()->isVisible());
        QVERIFY(m_login->isVisible());
        QCOMPARE(ScriptedRtcBackend::liveEngineCount(), 0);
        // The start that the service granted meanwhile is taken back.
        QCOMPARE(m_service->count("changeLiveStatus"), 2);
        QCOMPARE(m_service->value("changeLiveStatus", "liveStatus"), QStringLiteral("2"));

        // While leaving waits for the service, presses on push, mute and close do nothing.
        m_service->delayMs = 0;
        startSession(PanelStatePushing);
        m_service->delayMs = 300;
        ScriptedRtcBackend::clearCalls();
        QTimer::singleShot(50, this, [this]() {
            press("pushButton_push");
            press("pushButton_mute");
            press("pushButton_close");
        });
        press("pushButton_close");
        QCOMPARE(m_service->count("changeLiveStatus"), 4);
        QCOMPARE(m_service->value("changeLiveStatus", "liveStatus"), QStringLiteral("2"));
        QCOMPARE(ScriptedRtcBackend::callCount(QStringLiteral("leaveChannel")), 1);
        QCOMPARE(ScriptedRtcBackend::callCount(QStringLiteral("muteLocalAudioStream")), 0);
        QCOMPARE(m_panel->pushState(), int(PanelStateIdle));
        QVERIFY(m_login->isVisible());
    }

private:
    QPushButton* button(const char* name) const { return m_panel->findChild<QPushButton*>(name); }
    void checkState(int state, const char* pushText, const QString& label = QString())
    {
        QCOMPARE(m_panel->pushState(), state);
        QCOMPARE(button("pushButton_push")->text(), QString::fromUtf8(pushText));
        if (!label.isEmpty())
            QCOMPARE(m_panel->findChild<QLabel*>("label_push")->text(), label);
    }
    QString line(const char* name) const { return m_panel->messageBox()->findChild<QLabel*>(name)->text(); }
    void press(const char* name) { QTest::mouseClick(button(name), Qt::LeftButton); }
    void dismissBox()
    {
        QTest::mouseClick(m_panel->messageBox()->findChild<QPushButton*>("pushButton_ok"), Qt::LeftButton);
    }
    QString roomChannel() const
    {
        QString channel, account, rtcUid;
        MuSettings::instance()->roomIdentity(channel, account, rtcUid);
        return channel;
    }
    // What the login window does after a successful login, then presses up to the state.
    void startSession(int state = PanelStateEnterRoom)
    {
        MuSettings::instance()->saveLogin(QStringLiteral("10001"), QStringLiteral("x"),
                                          QStringLiteral("20001"));
        m_panel->prepareSession();
        m_panel->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_panel));
        for (int s = PanelStateEnterRoom; s < state; ++s)
            press("pushButton_push");
        QCOMPARE(m_panel->pushState(), state);
    }
    void serviceUp(bool up)
    {
        const QString down = QStringLiteral("http://127.0.0.1:%1/").arg(TestHttpServer::closedPort());
        MuServer::instance()->setServer(up ? m_service->http.url() : down, QStringLiteral("1000"));
    }
    void beat(const QByteArray& answer)
    {
        m_service->once["checkLiveStatus"] << answer;
        beat();
    }
    void beat(qint64 advanceMs = 2000)
    {
        m_wall = m_wall.addMSecs(advanceMs);
        m_steadyMs += advanceMs;
        m_panel->sltHeartbeat();
    }

    std::unique_ptr<TestEnv::ScopedWorkDir> m_dir;
    std::unique_ptr<PushService> m_service;
    std::unique_ptr<MuVozedIvazerida> m_login;
    MuVoicePanel* m_panel = nullptr;
    QDateTime m_wall;
    qint64 m_steadyMs = 0;
};

QTEST_MAIN(tst_MuVoicePanel)
#include "tst_MuVoicePanel.moc"
