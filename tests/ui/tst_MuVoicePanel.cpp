#include "support/ManualClock.h"
#include "support/PushServiceDouble.h"
#include "support/TestEnv.h"

#include "base/MuSettings.h"
#include "rtc/sdk/IRtcEngineEventHandler.h"
#include "service/MuServer.h"
#include "support/ScriptedRtcBackend.h"
#include "ui/MuLevelMeter.h"
#include "ui/MuMsgboxEx.h"
#include "ui/MuVoicePanel.h"
#include "ui/MuVozedIvazerida.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QSlider>
#include <QtTest>

#include <memory>

using agora::rtc::ScriptedRtcBackend;

using namespace PushServiceDouble;

namespace {
const QString kTextState2 = QStringLiteral("请创建房间或在别的房间上麦，然后点击开始推流开始直播");
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
        serviceUp(true);
        m_login.reset(new MuVozedIvazerida);
        m_panel = m_login->voicePanel();
        m_clock.reset(new ManualClock(QDateTime(QDate(2026, 12, 6), QTime(20, 0, 0)), 1000000));
    }

    void cleanup()
    {
        m_panel->messageBox()->hide();
        m_login.reset();
        m_clock.reset();
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
        QTest::newRow("default in capitals") << QStringList{"Mic", "DEFAULT", "Line"} << 1;
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
        // Without a device the test cannot capture: the engine says so, the user sees no box.
        if (names.isEmpty())
            ScriptedRtcBackend::failCall(QStringLiteral("startRecordingDeviceTest"), agora::rtc::kErrNoDevice);
        startSession();
        QVERIFY(m_panel->messageBox()->isHidden());
        QCOMPARE(m_panel->levelMeter()->shownFraction(), 0.0);
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

    // How the workflow's messages reach the user (the answers themselves are the workflow's
    // tests): one or two lines in the box over the dimmed panel, and only a relogin code sends
    // the user back when the box is dismissed.
    void serviceMessagesInTheBox_data()
    {
        QTest::addColumn<int>("fromState");
        QTest::addColumn<QByteArray>("beatReply");
        QTest::addColumn<int>("state");
        QTest::addColumn<QString>("line1");
        QTest::addColumn<QString>("line2");
        QTest::newRow("3192 pushing") << 3 << envelope(3192, "服务说明") << 1 << "服务说明"
                                      << "小助手停止了推流";
        QTest::newRow("3193 pushing") << 3 << envelope(3193, "服务说明") << 2 << "服务说明"
                                      << "小助手停止了推流";
        QTest::newRow("3190 pushing") << 3 << envelope(3190, "服务说明") << 0 << "服务说明"
                                      << "";
    }
    void serviceMessagesInTheBox()
    {
        QFETCH(int, fromState);
        QFETCH(QByteArray, beatReply);
        QFETCH(int, state);
        QFETCH(QString, line1);
        startSession(fromState);
        beat(beatReply);
        QCOMPARE(m_panel->pushState(), state);
        QVERIFY(m_panel->messageBox()->isVisible());
        QVERIFY(m_panel->findChild<QWidget*>("VMonLayer")->isVisible());
        QCOMPARE(line("label_line1"), line1);
        QTEST(line("label_line2"), "line2");
        QVERIFY(button("pushButton_push")->isEnabled());
        QCOMPARE(m_panel->rtcEngine() == nullptr, state == 0);
        if (state == 1 || state == 2) {
            QVERIFY(button("pushButton_mute")->isHidden());
            checkState(state, state == 1 ? "进入房间" : "开始推流", state == 1 ? QString() : kTextState2);
        }
        // The box's close button counts as much as OK.
        QTest::mouseClick(m_panel->messageBox()->findChild<QPushButton*>("pushButton_close"), Qt::LeftButton);
        QCOMPARE(m_login->isVisible(), state == 0);
        QCOMPARE(m_panel->isVisible(), state != 0);
        QVERIFY(m_panel->findChild<QWidget*>("VMonLayer")->isHidden());
    }

    // The status line sits under the volume without moving anything, and is empty outside a push.
    void statusLineUnderTheVolume()
    {
        startSession(PanelStateStartPush);
        auto* status = m_panel->findChild<QLabel*>("label_status");
        QVERIFY(status);
        QCOMPARE(status->geometry(), QRect(40, 330, 300, 16));
        QCOMPARE(status->textFormat(), Qt::PlainText);
        QVERIFY(status->text().isEmpty());
        QCOMPARE(m_panel->findChild<QSlider*>("horizontalSlider_volume")->geometry(),
                 QRect(40, 288, 266, 16));
        QCOMPARE(m_panel->findChild<QLabel*>("label_push")->geometry(), QRect(0, 364, 380, 12));
        press("pushButton_push");
        QCOMPARE(status->text(), QStringLiteral("正在连接推流服务器…"));
        QCOMPARE(m_panel->findChild<QLabel*>("label_push")->text(),
                 QStringLiteral("连接成功，正在直播中..."));
        press("pushButton_push");
        QVERIFY(status->text().isEmpty());
    }

    // The device test runs exactly while the panel is on screen, opened once the chosen device
    // and volume are set; the meter shows its level unless muted or banned, and goes flat when
    // the panel leaves the screen or the session ends.
    void deviceTestAndMeterFollowThePanel()
    {
        auto level = [](unsigned int volume) {
            ScriptedRtcBackend::withEventHandler([volume](agora::rtc::IRtcEngineEventHandler* h) {
                agora::rtc::AudioVolumeInfo speaker;
                speaker.volume = volume;
                h->onAudioVolumeIndication(&speaker, 1, static_cast<int>(volume));
            });
            QCoreApplication::processEvents();
        };
        auto tests = [] { return ScriptedRtcBackend::callCount(QStringLiteral("startRecordingDeviceTest")); };
        MuLevelMeter* meter = m_panel->levelMeter();
        QCOMPARE(meter->objectName(), QStringLiteral("widget_levelmeter"));
        QCOMPARE(meter->geometry(), QRect(40, 312, 266, 4));

        saveLogin();
        m_panel->prepareSession();
        QVERIFY(!ScriptedRtcBackend::isDeviceTestRunning()); // not on screen yet
        startSession(PanelStateStartPush);
        QVERIFY(ScriptedRtcBackend::isDeviceTestRunning());
        QVERIFY(m_panel->isDeviceTestRunning());
        const QStringList calls = ScriptedRtcBackend::calls();
        QCOMPARE(tests(), 1);
        QVERIFY(calls.indexOf(QStringLiteral("startRecordingDeviceTest(50)")) >
                calls.lastIndexOf(QRegularExpression(QStringLiteral("^(setRecordingDevice|adjustRecording).*"))));
        level(128);
        QVERIFY(meter->shownFraction() > 0.8);
        level(0);
        QVERIFY(meter->shownFraction() > 0.7); // falls back, not at once

        m_panel->showMinimized();
        QVERIFY(!ScriptedRtcBackend::isDeviceTestRunning());
        QCOMPARE(meter->shownFraction(), 0.0);
        level(200);
        QCOMPARE(meter->shownFraction(), 0.0);
        m_panel->showNormal();
        QVERIFY(ScriptedRtcBackend::isDeviceTestRunning());
        QCOMPARE(tests(), 2);
        m_panel->hide();
        QVERIFY(!ScriptedRtcBackend::isDeviceTestRunning());
        m_panel->show();
        QVERIFY(ScriptedRtcBackend::isDeviceTestRunning());

        // Pushing keeps the test (and its capture); muted the meter is flat.
        press("pushButton_push");
        QCOMPARE(m_panel->pushState(), int(PanelStatePushing));
        QVERIFY(ScriptedRtcBackend::isDeviceTestRunning());
        level(128);
        QVERIFY(meter->shownFraction() > 0.8);
        press("pushButton_mute");
        level(128);
        QCOMPARE(meter->shownFraction(), 0.0);
        press("pushButton_mute");
        beat(envelope(3163, "禁麦"));
        level(128);
        QCOMPARE(meter->shownFraction(), 0.0);
        beat();
        press("pushButton_mute");
        level(128);
        QVERIFY(meter->shownFraction() > 0.8);

        // Logging out ends the test with the engine.
        press("pushButton_close");
        QVERIFY(!ScriptedRtcBackend::isDeviceTestRunning());
        QVERIFY(!m_panel->isDeviceTestRunning());
        QCOMPARE(meter->shownFraction(), 0.0);
    }

    // Devices that come and go update the list; the user's choice stays, marked while it is gone.
    void deviceListFollowsTheSystem()
    {
        const QList<ScriptedRtcBackend::Device> two = {{"Mic A", "a"}, {"Mic B", "b"}};
        ScriptedRtcBackend::setRecordingDevices(two);
        startSession(PanelStatePushing);
        auto* box = m_panel->findChild<QComboBox*>("comboBox_device");
        box->setCurrentIndex(1); // the user picks Mic B
        QCOMPARE(ScriptedRtcBackend::recordingDevice(), QStringLiteral("b"));
        const int selections = ScriptedRtcBackend::callCount(QStringLiteral("setRecordingDevice"));
        auto deviceEvent = [](const char* id, int state) {
            ScriptedRtcBackend::withEventHandler([id, state](agora::rtc::IRtcEngineEventHandler* h) {
                h->onAudioDeviceStateChanged(id, agora::rtc::kAudioRecordingDevice, state);
            });
        };
        auto items = [box] {
            QStringList texts;
            for (int i = 0; i < box->count(); ++i)
                texts << box->itemText(i);
            return texts;
        };

        ScriptedRtcBackend::setRecordingDevices({{"Mic A", "a"}, {"Mic B", "b"}, {"USB C", "c"}});
        deviceEvent("c", agora::rtc::kDeviceStateActive);
        QTRY_COMPARE(items(), QStringList({"Mic A", "Mic B", "USB C"}));
        QCOMPARE(box->currentText(), QStringLiteral("Mic B"));

        ScriptedRtcBackend::setRecordingDevices({{"Mic A", "a"}, {"USB C", "c"}});
        deviceEvent("b", agora::rtc::kDeviceStateUnplugged);
        QTRY_COMPARE(items(), QStringList({"Mic A", "USB C", "Mic B（已断开）"}));
        QCOMPARE(box->currentText(), QStringLiteral("Mic B（已断开）"));

        ScriptedRtcBackend::setRecordingDevices(two);
        deviceEvent("b", agora::rtc::kDeviceStateActive);
        QTRY_COMPARE(items(), QStringList({"Mic A", "Mic B"}));
        QCOMPARE(box->currentText(), QStringLiteral("Mic B"));
        // Following the system never chose a device behind the user's back.
        QCOMPARE(ScriptedRtcBackend::callCount(QStringLiteral("setRecordingDevice")), selections);
        QCOMPARE(ScriptedRtcBackend::recordingDevice(), QStringLiteral("b"));
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
    // What the login window does after a successful login, then presses up to the state.
    void startSession(int state = PanelStateEnterRoom)
    {
        saveLogin();
        m_panel->prepareSession();
        m_panel->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_panel));
        for (int s = PanelStateEnterRoom; s < state; ++s)
            press("pushButton_push");
        QCOMPARE(m_panel->pushState(), state);
    }
    void serviceUp(bool up) { m_service->setUp(up); }
    void beat(const QByteArray& answer)
    {
        m_service->once["checkLiveStatus"] << answer;
        beat();
    }
    void beat(qint64 advanceMs = 2000)
    {
        m_clock->advance(advanceMs);
        m_panel->sltHeartbeat();
    }

    std::unique_ptr<TestEnv::ScopedWorkDir> m_dir;
    std::unique_ptr<Service> m_service;
    std::unique_ptr<MuVozedIvazerida> m_login;
    MuVoicePanel* m_panel = nullptr;
    std::unique_ptr<ManualClock> m_clock;
};

QTEST_MAIN(tst_MuVoicePanel)
#include "tst_MuVoicePanel.moc"
