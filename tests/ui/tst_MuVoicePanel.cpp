// The voice panel as the user meets it: its states, the box over it, the device list, the volume,
// the meter and the status line, against the push-stream service on loopback and the scripted SDK.
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

namespace {
const QString kTextState2 = QStringLiteral("请创建房间或在别的房间上麦，然后点击开始推流开始直播");

ScriptedRtcBackend::Snapshot sdk()
{
    return ScriptedRtcBackend::snapshot();
}

void raise(const std::function<void(IRtcEngineEventHandler*)>& callback)
{
    QVERIFY(ScriptedRtcBackend::withEventHandler(callback));
    QCoreApplication::processEvents();
}
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
        m_service.reset(new Service);
        m_service->setUp(true);
        m_user.reset(new SessionDriver);
        m_panel = m_user->panel();
    }

    void cleanup()
    {
        m_user.reset();
        m_service.reset();
        m_dir.reset();
    }

    void joinChannelFailureTellsServiceNotLive()
    {
        m_user->openPanel(PanelStateStartPush);
        ScriptedRtcBackend::failCall(QStringLiteral("joinChannel"), -17);
        press("pushButton_push");
        checkState(2, "开始推流");
        QCOMPARE(m_user->boxLine(1), QStringLiteral("推流失败"));
        QCOMPARE(m_service->count("changeLiveStatus"), 2);
        QCOMPARE(m_service->value("changeLiveStatus", "liveStatus", 0), QStringLiteral("1"));
        QCOMPARE(m_service->value("changeLiveStatus", "liveStatus", 1), QStringLiteral("2"));
        QCOMPARE(sdk().count(QStringLiteral("addPublishStreamUrl")), 0);
        QVERIFY(button("pushButton_mute")->isHidden());
        m_user->dismissBox();
        ScriptedRtcBackend::clearFailures();
        press("pushButton_push"); // the second attempt goes through
        QCOMPARE(m_panel->pushState(), int(PanelStatePushing));
    }

    // The drop-down picks the last device whose name holds "default" in any case, else the first;
    // names from the sound server are shown without what reorders or breaks them, ids kept.
    void deviceChoice_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<int>("chosen");
        QTest::addColumn<QStringList>("shown");
        QTest::newRow("last default wins") << QStringList{"Mic", "Default Mic", "USB (default)"} << 2
                                           << QStringList{"Mic", "Default Mic", "USB (default)"};
        QTest::newRow("default in capitals")
            << QStringList{"Mic", "DEFAULT", "Line"} << 1 << QStringList{"Mic", "DEFAULT", "Line"};
        QTest::newRow("no default") << QStringList{"Mic A", "Mic B"} << 0 << QStringList{"Mic A", "Mic B"};
        QTest::newRow("none") << QStringList{} << -1 << QStringList{};
        QTest::newRow("markup, bidi and a line break")
            << QStringList{QStringLiteral("<b>Mic</b>\u202e1"), "Line\nIn (default)"} << 1
            << QStringList{"<b>Mic</b>1", "Line In (default)"};
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
            ScriptedRtcBackend::failCall(QStringLiteral("startRecordingDeviceTest"),
                                         agora::rtc::kErrNoDevice);
        m_user->openPanel(PanelStateEnterRoom);
        QVERIFY(!m_user->boxShown());
        QCOMPARE(m_panel->levelMeter()->shownFraction(), 0.0);
        auto* box = m_panel->findChild<QComboBox*>("comboBox_device");
        QCOMPARE(box->currentIndex(), chosen);
        QCOMPARE(items(box), shown);
        QCOMPARE(sdk().recordingDevice, chosen < 0 ? QString() : QStringLiteral("id\u202e%1").arg(chosen));
        QCOMPARE(sdk().volume, 100); // applied even without a device
    }

    // A slider move reaches the engine and is remembered for this user only; silence is a choice too.
    void volumeRememberedPerUser_data()
    {
        QTest::addColumn<int>("volume");
        QTest::newRow("37") << 37;
        QTest::newRow("silent") << 0;
    }
    void volumeRememberedPerUser()
    {
        QFETCH(int, volume);
        m_user->openPanel(PanelStateEnterRoom);
        auto* slider = m_panel->findChild<QSlider*>("horizontalSlider_volume");
        slider->setValue(volume);
        QCOMPARE(m_panel->findChild<QLabel*>("label_volumenumber")->text(), QString::number(volume));
        QCOMPARE(sdk().volume, volume);
        MuSettings::instance()->saveLogin(QStringLiteral("10002"), QStringLiteral("x"),
                                          QStringLiteral("20002"));
        m_panel->prepareSession();
        QCOMPARE(sdk().volume, 100);
        QCOMPARE(slider->value(), 100);
        m_user->openPanel(PanelStateEnterRoom);
        QCOMPARE(sdk().volume, volume);
        QCOMPARE(slider->value(), volume);
    }

    // How the workflow's messages reach the user (the answers themselves are the workflow's
    // tests): one or two plain-text lines in the box over the dimmed panel, and only a relogin
    // code sends the user back when the box is dismissed.
    void serviceMessagesInTheBox_data()
    {
        QTest::addColumn<int>("fromState");
        QTest::addColumn<QByteArray>("beatReply");
        QTest::addColumn<int>("state");
        QTest::addColumn<QString>("line1");
        QTest::addColumn<QString>("line2");
        const QString stopped = QStringLiteral("小助手停止了推流");
        QTest::newRow("3192 pushing") << 3 << envelope(3192, "服务说明") << 1 << "服务说明" << stopped;
        QTest::newRow("3190 pushing") << 3 << envelope(3190, "服务说明") << 0 << "服务说明"
                                      << "";
        QTest::newRow("markup and controls shown plain")
            << 3 << envelope(3192, QStringLiteral("<h1>坏</h1>\u202e\\n!")) << 1 << "<h1>坏</h1> !"
            << stopped;
    }
    void serviceMessagesInTheBox()
    {
        QFETCH(int, fromState);
        QFETCH(QByteArray, beatReply);
        QFETCH(int, state);
        m_user->openPanel(fromState);
        beat(beatReply);
        QCOMPARE(m_panel->pushState(), state);
        QVERIFY(m_panel->findChild<QWidget*>("VMonLayer")->isVisible());
        QTEST(m_user->boxLine(1), "line1");
        QTEST(m_user->boxLine(2), "line2");
        for (const char* name : {"label_line1", "label_line2"})
            QCOMPARE(m_panel->messageBox()->findChild<QLabel*>(name)->textFormat(), Qt::PlainText);
        QVERIFY(button("pushButton_push")->isEnabled());
        QCOMPARE(m_panel->rtcEngine() == nullptr, state == 0);
        if (state != 0) {
            QVERIFY(button("pushButton_mute")->isHidden());
            checkState(state, state == 1 ? "进入房间" : "开始推流", state == 1 ? QString() : kTextState2);
        }
        m_user->dismissBox("pushButton_close"); // counts as much as OK
        QCOMPARE(m_user->window()->isVisible(), state == 0);
        QCOMPARE(m_panel->isVisible(), state != 0);
        QVERIFY(m_panel->findChild<QWidget*>("VMonLayer")->isHidden());
    }

    // The status line is plain text, empty outside a push, and its clock moves on screen (the
    // line's own one-second tick is a real timer: fired here as the clock moves).
    void statusLine()
    {
        m_user->openPanel(PanelStateStartPush);
        auto* status = m_panel->findChild<QLabel*>("label_status");
        QCOMPARE(status->textFormat(), Qt::PlainText);
        QVERIFY(status->text().isEmpty());
        press("pushButton_push");
        QCOMPARE(status->text(), QStringLiteral("正在连接推流服务器…"));
        QCOMPARE(m_panel->findChild<QLabel*>("label_push")->text(),
                 QStringLiteral("连接成功，正在直播中..."));
        const QByteArray url = sdk().publishedUrls.value(0).toUtf8();
        raise([url](IRtcEngineEventHandler* h) {
            h->onRtmpStreamingStateChanged(url, agora::rtc::kRtmpStateRunning, 0);
        });
        QCOMPARE(status->text(), QStringLiteral("已推流 00:00:00"));
        auto tick = [this](qint64 ms) {
            m_user->clock().advance(ms);
            SessionDriver::fireTimers(m_panel->workflow(), 1000);
        };
        tick(1000);
        QCOMPARE(status->text(), QStringLiteral("已推流 00:00:01"));
        press("pushButton_push");
        QVERIFY(status->text().isEmpty());
        tick(1000);
        QVERIFY(status->text().isEmpty());
    }

    // The device test runs exactly while the panel is on screen, opened once the chosen device
    // and volume are set; the meter shows its level unless muted or banned, and goes flat when
    // the panel leaves the screen or the session ends.
    void deviceTestAndMeterFollowThePanel()
    {
        auto level = [](unsigned int volume) {
            raise([volume](IRtcEngineEventHandler* h) {
                agora::rtc::AudioVolumeInfo speaker;
                speaker.volume = volume;
                h->onAudioVolumeIndication(&speaker, 1, static_cast<int>(volume));
            });
        };
        MuLevelMeter* meter = m_panel->levelMeter();
        MuSettings::instance()->saveLogin(QStringLiteral("10001"), QStringLiteral("x"),
                                          QStringLiteral("20001"));
        m_panel->prepareSession();
        QVERIFY(!sdk().deviceTest); // not on screen yet
        m_user->openPanel(PanelStateStartPush);
        QVERIFY(sdk().deviceTest && m_panel->isDeviceTestRunning());
        QCOMPARE(sdk().count(QStringLiteral("startRecordingDeviceTest")), 1);
        level(128);
        QVERIFY(meter->shownFraction() > 0.8);
        level(0);
        QVERIFY(meter->shownFraction() > 0.7); // falls back, not at once

        m_panel->showMinimized();
        QVERIFY(!sdk().deviceTest);
        QCOMPARE(meter->shownFraction(), 0.0);
        level(200);
        QCOMPARE(meter->shownFraction(), 0.0);
        m_panel->showNormal();
        QVERIFY(sdk().deviceTest);
        QCOMPARE(sdk().count(QStringLiteral("startRecordingDeviceTest")), 2);

        // Pushing keeps the test (and its capture); muted or banned the meter is flat.
        press("pushButton_push");
        QCOMPARE(m_panel->pushState(), int(PanelStatePushing));
        QVERIFY(sdk().deviceTest);
        level(128);
        QVERIFY(meter->shownFraction() > 0.8);
        press("pushButton_mute");
        level(128);
        QCOMPARE(meter->shownFraction(), 0.0);
        press("pushButton_mute");
        beat(envelope(3163, "禁麦"));
        level(128);
        QCOMPARE(meter->shownFraction(), 0.0);

        // Logging out ends the test with the engine.
        press("pushButton_close");
        QVERIFY(!sdk().deviceTest && !m_panel->isDeviceTestRunning());
        QCOMPARE(meter->shownFraction(), 0.0);
    }

    // Devices that come and go update the list; the user's choice stays, marked while it is gone.
    void deviceListFollowsTheSystem()
    {
        const QList<ScriptedRtcBackend::Device> two = {{"Mic A", "a"}, {"Mic B", "b"}};
        ScriptedRtcBackend::setRecordingDevices(two);
        m_user->openPanel(PanelStatePushing);
        auto* box = m_panel->findChild<QComboBox*>("comboBox_device");
        box->setCurrentIndex(1); // the user picks Mic B
        QCOMPARE(sdk().recordingDevice, QStringLiteral("b"));
        const int selections = sdk().count(QStringLiteral("setRecordingDevice"));
        auto deviceEvent = [](const char* id, int state) {
            ScriptedRtcBackend::withEventHandler([id, state](IRtcEngineEventHandler* h) {
                h->onAudioDeviceStateChanged(id, agora::rtc::kAudioRecordingDevice, state);
            });
        };
        ScriptedRtcBackend::setRecordingDevices({{"Mic A", "a"}, {"Mic B", "b"}, {"USB C", "c"}});
        deviceEvent("c", agora::rtc::kDeviceStateActive);
        QTRY_COMPARE(items(box), QStringList({"Mic A", "Mic B", "USB C"}));
        QCOMPARE(box->currentText(), QStringLiteral("Mic B"));
        ScriptedRtcBackend::setRecordingDevices({{"Mic A", "a"}, {"USB C", "c"}});
        deviceEvent("b", agora::rtc::kDeviceStateUnplugged);
        QTRY_COMPARE(items(box), QStringList({"Mic A", "USB C", "Mic B（已断开）"}));
        QCOMPARE(box->currentText(), QStringLiteral("Mic B（已断开）"));
        ScriptedRtcBackend::setRecordingDevices(two);
        deviceEvent("b", agora::rtc::kDeviceStateActive);
        QTRY_COMPARE(items(box), QStringList({"Mic A", "Mic B"}));
        QCOMPARE(box->currentText(), QStringLiteral("Mic B"));
        // Following the system never chose a device behind the user's back.
        QCOMPARE(sdk().count(QStringLiteral("setRecordingDevice")), selections);
        QCOMPARE(sdk().recordingDevice, QStringLiteral("b"));
    }

    void micBanWhilePushing()
    {
        m_user->openPanel(PanelStatePushing);
        QPushButton* mute = button("pushButton_mute");
        beat(envelope(3163, "禁麦"));
        QVERIFY(m_panel->isMuted() && sdk().localMuted);
        QCOMPARE(m_service->value("mute", "mute"), QStringLiteral("1"));
        QCOMPARE(mute->text(), QStringLiteral("禁麦中"));
        // Inert while banned, and a second ban report toggles nothing.
        press("pushButton_mute");
        beat(envelope(3163, "禁麦"));
        QVERIFY(sdk().localMuted);
        QCOMPARE(m_service->count("mute"), 1);
        QCOMPARE(mute->text(), QStringLiteral("禁麦中"));
        // A good heartbeat lifts the ban; the audio stays muted until the user unmutes.
        beat();
        QCOMPARE(mute->text(), QStringLiteral("静音中"));
        QVERIFY(sdk().localMuted);
        press("pushButton_mute");
        QVERIFY(!sdk().localMuted);
        QCOMPARE(mute->text(), QStringLiteral("静音"));
        QCOMPARE(m_service->value("mute", "mute"), QStringLiteral("0"));
        // Banned again, then a new session: it starts unmuted and unbanned.
        beat(envelope(3163, "禁麦"));
        press("pushButton_close");
        m_user->openPanel(PanelStatePushing);
        QVERIFY(!m_panel->isMuted() && !m_panel->isMicBanned() && !sdk().localMuted);
        QCOMPARE(mute->text(), QStringLiteral("静音"));
        QVERIFY(mute->isEnabled());
    }

    void closingWhilePushing()
    {
        m_user->openPanel(PanelStatePushing);
        m_panel->startHeartbeat();
        const auto beating = [this] { return SessionDriver::fireTimers(m_panel, 2000, false) > 0; };
        QVERIFY(beating()); // every two seconds while the session lasts
        const QPoint panelAt = m_panel->frameGeometry().topLeft();
        press("pushButton_close");
        QVERIFY(!sdk().joined && sdk().publishedUrls.isEmpty());
        QCOMPARE(sdk().liveEngines, 0);
        QCOMPARE(m_service->value("changeLiveStatus", "liveStatus"), QStringLiteral("2"));
        QVERIFY(roomChannel().isEmpty());
        QVERIFY(m_panel->pushState() == PanelStateIdle && !m_panel->isVisible());
        QVERIFY(m_user->window()->isVisible() && !m_user->boxShown());
        QCOMPARE(m_user->window()->pos(), panelAt);
        QVERIFY(!beating());
        // The window's own close does the same, even with the service down.
        m_user->openPanel(PanelStatePushing);
        m_service->setUp(false);
        QVERIFY(m_panel->close());
        QVERIFY(m_panel->pushState() == PanelStateIdle && !sdk().joined && m_user->window()->isVisible());
    }

    // Service calls wait in nested event loops: what happens meanwhile must not act on a panel
    // that is being left.
    void closeDuringSlowServiceCall()
    {
        m_user->openPanel(PanelStateStartPush);
        m_service->delayMs = 300;
        bool closed = false; // a heartbeat comes while the push start waits, then the user closes
        QTimer::singleShot(50, this, [this]() { beat(); });
        QTimer::singleShot(100, this, [this, &closed]() {
            m_panel->sltClosePanel();
            closed = true;
        });
        press("pushButton_push");
        QVERIFY(closed && !m_user->boxShown() && m_user->window()->isVisible());
        QCOMPARE(m_service->count("checkLiveStatus"), 0);
        QCOMPARE(m_panel->pushState(), int(PanelStateIdle));
        QCOMPARE(sdk().count(QStringLiteral("joinChannel")) + sdk().liveEngines, 0);
        // The start that the service granted meanwhile is taken back.
        QCOMPARE(m_service->count("changeLiveStatus"), 2);
        QCOMPARE(m_service->value("changeLiveStatus", "liveStatus"), QStringLiteral("2"));

        // While leaving waits for the service, presses on push, mute and close do nothing.
        m_service->delayMs = 0;
        m_user->openPanel(PanelStatePushing);
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
        QCOMPARE(sdk().count(QStringLiteral("leaveChannel")), 1);
        QCOMPARE(sdk().count(QStringLiteral("muteLocalAudioStream")), 0);
        QVERIFY(m_panel->pushState() == PanelStateIdle && m_user->window()->isVisible());
    }

private:
    QPushButton* button(const char* name) const { return m_user->button(name); }
    void press(const char* name) { m_user->press(name); }
    void checkState(int state, const char* pushText, const QString& label = QString())
    {
        QCOMPARE(m_panel->pushState(), state);
        QCOMPARE(button("pushButton_push")->text(), QString::fromUtf8(pushText));
        if (!label.isEmpty())
            QCOMPARE(m_panel->findChild<QLabel*>("label_push")->text(), label);
    }
    static QStringList items(const QComboBox* box)
    {
        QStringList texts;
        for (int i = 0; i < box->count(); ++i)
            texts << box->itemText(i);
        return texts;
    }
    void beat(const QByteArray& answer)
    {
        m_service->once["checkLiveStatus"] << answer;
        beat();
    }
    void beat(qint64 advanceMs = 2000) { m_user->beat(advanceMs); }

    std::unique_ptr<TestEnv::ScopedWorkDir> m_dir;
    std::unique_ptr<Service> m_service;
    std::unique_ptr<SessionDriver> m_user;
    MuVoicePanel* m_panel = nullptr;
};

QTEST_MAIN(tst_MuVoicePanel)
#include "tst_MuVoicePanel.moc"
