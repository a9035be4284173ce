// The voice panel as the user meets it, against the push-stream service on loopback and the scripted SDK.
#include "support/PanelSession.h"
#include "support/PushServiceDouble.h"
#include "support/ScriptedRtcBackend.h"
#include "support/SessionDriver.h"
#include "support/TestEnv.h"

#include "base/MuSettings.h"
#include "rtc/sdk/IRtcEngineEventHandler.h"
#include "ui/MuLevelMeter.h"
#include "ui/MuMsgboxEx.h"
#include "ui/MuVoicePanel.h"
#include "ui/MuVozedIvazerida.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QtTest>

#include <memory>

using agora::rtc::IRtcEngineEventHandler;
using agora::rtc::ScriptedRtcBackend;
using namespace PushServiceDouble;

static const auto sdk = &ScriptedRtcBackend::snapshot;

static void raise(const std::function<void(IRtcEngineEventHandler*)>& callback)
{
    QVERIFY(ScriptedRtcBackend::withEventHandler(callback));
    QCoreApplication::processEvents();
}

class tst_MuVoicePanel : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_session.reset(new PanelSession);
        m_panel = m_session->user->panel();
    }

    void cleanup() { m_session.reset(); }

    void joinChannelFailureTellsServiceNotLive()
    {
        m_session->user->openPanel(PanelStateStartPush);
        ScriptedRtcBackend::failCall("joinChannel", -17, 1);
        m_session->user->press("pushButton_push");
        QCOMPARE(m_panel->pushState(), int(PanelStateStartPush));
        QCOMPARE(m_session->user->button("pushButton_push")->text(), QStringLiteral("开始推流"));
        QCOMPARE(m_session->user->boxLine(1), QStringLiteral("推流失败"));
        QCOMPARE(m_session->service->values("changeLiveStatus", "liveStatus"), QStringList({"1", "2"}));
        QVERIFY(sdk().count("addPublishStreamUrl") == 0 &&
                m_session->user->button("pushButton_mute")->isHidden());
        m_session->user->dismissBox();
        m_session->user->press("pushButton_push"); // the second attempt goes through
        QCOMPARE(m_panel->pushState(), int(PanelStatePushing));
    }

    // The last "default" in any case, else the first; names shown plain ("shown" when not the names).
    void deviceChoice_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<int>("chosen");
        QTest::addColumn<QStringList>("shown");
        // clang-format off
        QTest::newRow("last default wins") << QStringList{"Mic", "Default Mic", "USB (default)"} << 2 << QStringList();
        QTest::newRow("default in capitals") << QStringList{"Mic", "DEFAULT", "Line"} << 1 << QStringList();
        QTest::newRow("no default") << QStringList{"Mic A", "Mic B"} << 0 << QStringList();
        QTest::newRow("none") << QStringList{} << -1 << QStringList();
        QTest::newRow("markup, bidi and a line break") << QStringList{QStringLiteral("<b>Mic</b>\u202e1"),
            "Line\nIn (default)"} << 1 << QStringList{"<b>Mic</b>1", "Line In (default)"};
        // clang-format on
    }
    void deviceChoice()
    {
        QFETCH(QStringList, names);
        QFETCH(int, chosen);
        QFETCH(QStringList, shown);
        QList<ScriptedRtcBackend::Device> devices;
        for (int i = 0; i < names.size(); ++i)
            devices.append({names.at(i), QStringLiteral("id\u202e%1").arg(i)});
        ScriptedRtcBackend::setRecordingDevices(devices);
        // Without a device the test cannot capture: the engine says so, the user sees no box.
        if (names.isEmpty())
            ScriptedRtcBackend::failCall("startRecordingDeviceTest", agora::rtc::kErrNoDevice);
        m_session->user->openPanel(PanelStateEnterRoom);
        QVERIFY(!m_session->user->boxShown() && m_panel->levelMeter()->shownFraction() == 0.0);
        auto* box = m_panel->findChild<QComboBox*>("comboBox_device");
        QCOMPARE(box->currentIndex(), chosen);
        QCOMPARE(items(box), shown.isEmpty() ? names : shown);
        QCOMPARE(sdk().recordingDevice, chosen < 0 ? QString() : QStringLiteral("id\u202e%1").arg(chosen));
        QCOMPARE(sdk().volume, 100); // applied even without a device
    }

    // A slider move reaches the engine and is remembered for this user only; silence is a choice too.
    void volumeRememberedPerUser()
    {
        auto* slider = m_panel->findChild<QSlider*>("horizontalSlider_volume");
        for (int volume : {37, 0}) {
            m_session->user->openPanel(PanelStateEnterRoom);
            slider->setValue(volume);
            QCOMPARE(m_panel->findChild<QLabel*>("label_volumenumber")->text(), QString::number(volume));
            QCOMPARE(sdk().volume, volume);
            MuSettings::instance()->saveLogin("10002", "x", "20002"); // another user
            m_panel->prepareSession();
            QCOMPARE(QPair(sdk().volume, slider->value()), QPair(100, 100));
            m_session->user->openPanel(PanelStateEnterRoom);
            QCOMPARE(QPair(sdk().volume, slider->value()), QPair(volume, volume));
        }
    }

    // The workflow's messages as plain text over the dimmed panel; only a relogin code sends users back.
    void serviceMessagesInTheBox_data()
    {
        QTest::addColumn<QByteArray>("beatReply");
        QTest::addColumn<int>("state");
        QTest::addColumn<QString>("line1");
        QTest::newRow("3192") << envelope(3192, "服务说明") << 1 << "服务说明";
        QTest::newRow("3190") << envelope(3190, "服务说明") << 0 << "服务说明";
        QTest::newRow("markup and controls shown plain")
            << envelope(3192, QStringLiteral("<h1>坏</h1>\u202e\\n!")) << 1 << "<h1>坏</h1> !";
    }
    void serviceMessagesInTheBox()
    {
        QFETCH(QByteArray, beatReply);
        QFETCH(int, state);
        m_session->user->openPanel(PanelStatePushing);
        beat(beatReply);
        QCOMPARE(m_panel->pushState(), state);
        QVERIFY(m_panel->findChild<QWidget*>("VMonLayer")->isVisible() &&
                m_session->user->button("pushButton_push")->isEnabled());
        QTEST(m_session->user->boxLine(1), "line1");
        QCOMPARE(m_session->user->boxLine(2), state == 1 ? "小助手停止了推流" : ""); // stopped by the service
        for (const char* name : {"label_line1", "label_line2"})
            QCOMPARE(m_panel->messageBox()->findChild<QLabel*>(name)->textFormat(), Qt::PlainText);
        if (state != 0) // back to entering a room: its button, no mute button
            QVERIFY(m_session->user->button("pushButton_push")->text() == "进入房间" &&
                    m_session->user->button("pushButton_mute")->isHidden());
        m_session->user->dismissBox("pushButton_close"); // counts as much as OK
        QCOMPARE(m_session->user->window()->isVisible(), state == 0);
        QCOMPARE(m_panel->isVisible(), state != 0);
        QVERIFY(m_panel->findChild<QWidget*>("VMonLayer")->isHidden());
    }

    // The status line is plain text, empty outside a push, and its clock moves on screen.
    void statusLine()
    {
        m_session->user->openPanel(PanelStateStartPush);
        auto* status = m_panel->findChild<QLabel*>("label_status");
        QVERIFY(status->textFormat() == Qt::PlainText && status->text().isEmpty());
        m_session->user->press("pushButton_push");
        // Live only once the server has the stream.
        auto* label = m_panel->findChild<QLabel*>("label_push");
        QVERIFY(status->text().isEmpty() && label->text() == QStringLiteral("正在连接推流服务器…"));
        const QByteArray url = sdk().publishedUrls.value(0).toUtf8();
        raise([url](auto* h) { h->onRtmpStreamingStateChanged(url, agora::rtc::kRtmpStateRunning, 0); });
        QCOMPARE(status->text(), QStringLiteral("已推流 00:00:00"));
        QCOMPARE(label->text(), QStringLiteral("连接成功，正在直播中..."));
        const auto tick = [this, status] { // the line's own one-second timer, fired as the clock moves
            m_session->user->clock().advance(1000);
            SessionDriver::fireTimers(m_panel->workflow(), 1000);
            return status->text();
        };
        QCOMPARE(tick(), QStringLiteral("已推流 00:00:01"));
        m_session->user->press("pushButton_push");
        QVERIFY(status->text().isEmpty());
        QCOMPARE(tick(), QString());
    }

    // The device test runs while the panel is on screen; the meter is flat when muted, banned or hidden.
    void deviceTestAndMeterFollowThePanel()
    {
        MuLevelMeter* meter = m_panel->levelMeter();
        auto level = [meter](unsigned int volume) { // what the meter shows after this report
            raise([volume](IRtcEngineEventHandler* h) {
                agora::rtc::AudioVolumeInfo speaker{0, volume};
                h->onAudioVolumeIndication(&speaker, 1, static_cast<int>(volume));
            });
            return meter->shownFraction();
        };
        saveLogin();
        m_panel->prepareSession();
        QVERIFY(!sdk().deviceTest); // not on screen yet
        m_session->user->openPanel(PanelStateStartPush);
        QVERIFY(sdk().deviceTest && m_panel->isDeviceTestRunning());
        QCOMPARE(sdk().count(QStringLiteral("startRecordingDeviceTest")), 1);
        QVERIFY(level(128) > 0.8); // (its fall-off is the meter's own test)

        m_panel->showMinimized();
        QVERIFY(!sdk().deviceTest && meter->shownFraction() == 0.0);
        QCOMPARE(level(200), 0.0);
        m_panel->showNormal();
        QVERIFY(sdk().deviceTest); // started again

        // Pushing keeps the test (and its capture); muted or banned the meter is flat.
        m_session->user->press("pushButton_push");
        QVERIFY(m_panel->pushState() == PanelStatePushing && sdk().deviceTest);
        QVERIFY(level(128) > 0.8);
        m_session->user->press("pushButton_mute");
        QCOMPARE(level(128), 0.0);
        m_session->user->press("pushButton_mute");
        beat(envelope(3163, "禁麦"));
        QCOMPARE(level(128), 0.0);

        m_session->user->press("pushButton_close"); // logging out ends the test with the engine
        QVERIFY(!sdk().deviceTest && !m_panel->isDeviceTestRunning() && meter->shownFraction() == 0.0);
    }

    // Devices that come and go update the list; the user's choice stays, marked while it is gone.
    void deviceListFollowsTheSystem()
    {
        const QList<ScriptedRtcBackend::Device> two = {{"Mic A", "a"}, {"Mic B", "b"}};
        ScriptedRtcBackend::setRecordingDevices(two);
        m_session->user->openPanel(PanelStatePushing);
        auto* box = m_panel->findChild<QComboBox*>("comboBox_device");
        box->setCurrentIndex(1); // the user picks Mic B
        QCOMPARE(sdk().recordingDevice, QStringLiteral("b"));
        const int selections = sdk().count(QStringLiteral("setRecordingDevice"));
        // clang-format off
        const struct { QList<ScriptedRtcBackend::Device> now; const char* id; int state; QStringList shown; } steps[] = {
            {{{"Mic A", "a"}, {"Mic B", "b"}, {"USB C", "c"}}, "c", agora::rtc::kDeviceStateActive, {"Mic A", "Mic B", "USB C"}},
            {{{"Mic A", "a"}, {"USB C", "c"}}, "b", agora::rtc::kDeviceStateUnplugged, {"Mic A", "USB C", "Mic B（已断开）"}},
            {two, "b", agora::rtc::kDeviceStateActive, {"Mic A", "Mic B"}}};
        // clang-format on
        for (const auto& step : steps) {
            ScriptedRtcBackend::setRecordingDevices(step.now);
            ScriptedRtcBackend::withEventHandler([&step](IRtcEngineEventHandler* h) {
                h->onAudioDeviceStateChanged(step.id, agora::rtc::kAudioRecordingDevice, step.state);
            });
            QTRY_COMPARE(items(box), step.shown);
            QCOMPARE(box->currentText(), step.shown.filter("Mic B").value(0)); // still the user's choice
        }
        QCOMPARE(sdk().count("setRecordingDevice"), selections); // none chosen behind the user's back
    }

    void micBanWhilePushing()
    {
        m_session->user->openPanel(PanelStatePushing);
        QPushButton* mute = m_session->user->button("pushButton_mute");
        // The button, whether the audio goes out muted, and every mute state the service was told.
        const auto look = [this, mute] {
            return mute->text() + (sdk().localMuted ? " muted " : " audible ") +
                   m_session->service->values("mute", "mute").join(',');
        };
        // The ban's mute waits for the service as a click's does: a click meanwhile finds the
        // button disabled and cannot unmute.
        bool enabledWhileWaiting = true;
        m_session->service->onRequest = [&](const QString& op) {
            if (op == QLatin1String("mute")) {
                enabledWhileWaiting = mute->isEnabled();
                m_panel->sltMute();
            }
        };
        beat(envelope(3163, "禁麦"));
        m_session->service->onRequest = nullptr;
        QVERIFY(!enabledWhileWaiting);
        QCOMPARE(look(), QStringLiteral("禁麦中 muted 1"));
        // Inert while banned, and a second ban report toggles nothing.
        m_session->user->press("pushButton_mute");
        beat(envelope(3163, "禁麦"));
        QCOMPARE(look(), QStringLiteral("禁麦中 muted 1"));
        // A good heartbeat lifts the ban; the audio stays muted until the user unmutes.
        beat();
        QCOMPARE(look(), QStringLiteral("静音中 muted 1"));
        m_session->user->press("pushButton_mute");
        QCOMPARE(look(), QStringLiteral("静音 audible 1,0"));
        // Banned again, then a new session: it starts unmuted and unbanned.
        beat(envelope(3163, "禁麦"));
        m_session->user->press("pushButton_close");
        m_session->user->openPanel(PanelStatePushing);
        QCOMPARE(look(), QStringLiteral("静音 audible 1,0,1"));
        QVERIFY(!m_panel->isMuted() && !m_panel->isMicBanned() && mute->isEnabled());
    }

    void closingWhilePushing()
    {
        m_session->user->openPanel(PanelStatePushing);
        m_panel->startHeartbeat();
        const auto beating = [this] { return SessionDriver::fireTimers(m_panel, 2000, false) > 0; };
        QVERIFY(beating()); // every two seconds while the session lasts
        const QPoint panelAt = m_panel->frameGeometry().topLeft();
        m_session->user->press("pushButton_close");
        QVERIFY(!sdk().joined && sdk().publishedUrls.isEmpty() && !sdk().liveEngines &&
                roomChannel().isEmpty());
        QCOMPARE(m_session->service->values("changeLiveStatus", "liveStatus"), QStringList({"1", "2"}));
        QVERIFY(m_panel->pushState() == PanelStateIdle && !m_panel->isVisible() &&
                !m_session->user->boxShown());
        QCOMPARE(m_session->user->window()->pos(), panelAt);
        QVERIFY(m_session->user->window()->isVisible() && !beating());
        // The window's own close does the same, even with the service down.
        m_session->user->openPanel(PanelStatePushing);
        m_session->service->setUp(false);
        QVERIFY(m_panel->close());
        QVERIFY(m_panel->pushState() == PanelStateIdle && !sdk().joined &&
                m_session->user->window()->isVisible());
    }

    // Service calls wait in nested event loops: nothing meanwhile may act on a panel being left.
    void closeDuringSlowServiceCall()
    {
        m_session->user->openPanel(PanelStateStartPush);
        m_session->service->delayMs = 300;
        QTimer::singleShot(50, this,
                           [this]() { beat(); }); // while the push start waits, then the user closes
        QTimer::singleShot(100, m_panel, &MuVoicePanel::sltClosePanel);
        m_session->user->press("pushButton_push");
        QVERIFY(!m_session->user->boxShown() && m_session->user->window()->isVisible());
        QVERIFY(m_panel->pushState() == PanelStateIdle && m_session->service->count("checkLiveStatus") == 0);
        QCOMPARE(sdk().count(QStringLiteral("joinChannel")) + sdk().liveEngines, 0);
        // The start that the service granted meanwhile is taken back.
        QCOMPARE(m_session->service->values("changeLiveStatus", "liveStatus"), QStringList({"1", "2"}));

        // While leaving waits for the service, presses on push, mute and close do nothing.
        m_session->service->delayMs = 0;
        m_session->user->openPanel(PanelStatePushing);
        m_session->service->delayMs = 300;
        ScriptedRtcBackend::clearCalls();
        QTimer::singleShot(50, this, [this]() {
            m_session->user->press("pushButton_push");
            m_session->user->press("pushButton_mute");
            m_session->user->press("pushButton_close");
        });
        m_session->user->press("pushButton_close");
        QCOMPARE(m_session->service->values("changeLiveStatus", "liveStatus"),
                 QStringList({"1", "2", "1", "2"}));
        QCOMPARE(sdk().calls.filter(QRegularExpression("^(leave|muteLocalAudio)")),
                 QStringList("leaveChannel()"));
        QVERIFY(m_panel->pushState() == PanelStateIdle && m_session->user->window()->isVisible());
    }

private:
    static QStringList items(const QComboBox* box)
    {
        QStringList texts;
        for (int i = 0; i < box->count(); ++i)
            texts << box->itemText(i);
        return texts;
    }
    void beat(const QByteArray& answer = {})
    {
        if (!answer.isEmpty())
            m_session->service->once["checkLiveStatus"] << answer;
        m_session->user->beat(2000);
    }

    std::unique_ptr<PanelSession> m_session;
    MuVoicePanel* m_panel = nullptr;
};

QTEST_MAIN(tst_MuVoicePanel)
#include "tst_MuVoicePanel.moc"
