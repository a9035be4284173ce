#include "LoginTestPeers.h"

#include "app/MuSettings.h"
#include "config/VGlobalConfig.h"
#include "rtc/sdk/ScriptedRtcBackend.h"
#include "support/TestEnv.h"
#include "ui/MuMsgboxEx.h"
#include "ui/MuVoicePanel.h"
#include "ui/MuVozedIvazerida.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include <memory>

using agora::rtc::ScriptedRtcBackend;

namespace {

const char kUser[] = "10001";
const char kRoom[] = "8801";
// Heartbeats come every 2 s; give the service's answer a few of them to show.
const int kHeartbeatWaitMs = 10000;

} // namespace

// The whole road of a session through the real windows, against the local services program
// (playing the phone side through its admin API) and the scripted RTC backend: log in, enter
// the room, push, the room bans and frees the microphone, stop, leave, and a session ended
// by the service that returns to the login window.
class TestLoginWorkflow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (!LocalServices::isBuilt())
            QSKIP("the local services program is not part of this build");
        ScriptedRtcBackend::setEnabled(true);
        QApplication::setQuitOnLastWindowClosed(false);
        m_services = std::make_unique<LocalServices>();
        QVERIFY(!m_services->baseUrl().isEmpty());
    }

    void init()
    {
        ScriptedRtcBackend::reset();
        QCOMPARE(m_services->admin(QStringLiteral("reset"), QUrlQuery()).value("code").toInt(), 1);
        // The demo account starts in a room and on a microphone; these tests walk it there.
        phone(QStringLiteral("room"), {{"roomId", ""}});
        m_workDir = std::make_unique<TestEnv::ScopedWorkDir>();
        VGlobalConfig* config = VGlobalConfig::instance();
        config->setValue(QStringLiteral("ServerType"), QStringLiteral("1000"));
        config->setValue(QStringLiteral("sdkinit"), m_services->baseUrl() + QLatin1String("sdkinit"));
        m_window = std::make_unique<MuVozedIvazerida>();
        m_window->move(120, 80);
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    }

    void cleanup()
    {
        if (m_window && panel()->isVisible())
            panel()->close();
        m_window.reset();
        MuSettings::destroy();
        m_workDir.reset();
    }

    void pushThroughTheWholeSession()
    {
        logIn();
        QCOMPARE(panel()->pushState(), 1);
        QCOMPARE(pushButton()->text(), QStringLiteral("进入房间"));
        QCOMPARE(pushLabel()->text(), QStringLiteral("请手机登录TavioAPP并进入房间..."));
        QVERIFY(ScriptedRtcBackend::callCount(QStringLiteral("setRecordingDevice")) >= 1);

        // Not in a room on the phone yet.
        QTest::mouseClick(pushButton(), Qt::LeftButton);
        QCOMPARE(panel()->pushState(), 1);
        QVERIFY(messageBox()->isVisible());
        dismissMessage();

        phone(QStringLiteral("room"), {{"roomId", kRoom}});
        QTest::mouseClick(pushButton(), Qt::LeftButton);
        QCOMPARE(panel()->pushState(), 2);
        QCOMPARE(pushButton()->text(), QStringLiteral("开始推流"));
        QCOMPARE(pushLabel()->text(), QStringLiteral("请创建房间或在别的房间上麦，然后点击开始推流开始直播"));

        // In the room but not on a microphone: the service refuses the push.
        QTest::mouseClick(pushButton(), Qt::LeftButton);
        QCOMPARE(panel()->pushState(), 2);
        QVERIFY(messageBox()->isVisible());
        QVERIFY(!ScriptedRtcBackend::isJoined());
        dismissMessage();

        phone(QStringLiteral("mic"), {{"on", "1"}});
        QTest::mouseClick(pushButton(), Qt::LeftButton);
        QCOMPARE(panel()->pushState(), 3);
        QCOMPARE(pushButton()->text(), QStringLiteral("结束直播"));
        QCOMPARE(pushLabel()->text(), QStringLiteral("连接成功，正在直播中..."));
        QVERIFY(ScriptedRtcBackend::isJoined());
        const QStringList joins = ScriptedRtcBackend::calls().filter(QStringLiteral("joinChannel("));
        QCOMPARE(joins.size(), 1);
        QVERIFY2(joins.first().endsWith(
                     QStringLiteral(", %1, null, %2)").arg(QLatin1String(kRoom)).arg(quint32(-10001))),
                 qPrintable(joins.first()));
        QCOMPARE(ScriptedRtcBackend::publishedUrls(),
                 QStringList{QStringLiteral("rtmp://127.0.0.1:1935/live/%1").arg(QLatin1String(kRoom))});
        QVERIFY(userState().value("live").toBool());
        QVERIFY(muteButton()->isVisible());
        QCOMPARE(muteButton()->text(), QStringLiteral("静音"));

        // The room bans the microphone: muted locally and on the service, the button inert.
        phone(QStringLiteral("ban"), {{"banned", "1"}});
        QTRY_COMPARE_WITH_TIMEOUT(muteButton()->text(), QStringLiteral("禁麦中"), kHeartbeatWaitMs);
        QVERIFY(ScriptedRtcBackend::isLocalAudioMuted());
        QVERIFY(userState().value("muted").toBool());
        QTest::mouseClick(muteButton(), Qt::LeftButton);
        QVERIFY(ScriptedRtcBackend::isLocalAudioMuted());
        QCOMPARE(muteButton()->text(), QStringLiteral("禁麦中"));

        // Freed again: the audio stays muted until the user unmutes.
        phone(QStringLiteral("ban"), {{"banned", "0"}});
        QTRY_COMPARE_WITH_TIMEOUT(muteButton()->text(), QStringLiteral("静音中"), kHeartbeatWaitMs);
        QVERIFY(ScriptedRtcBackend::isLocalAudioMuted());
        QTest::mouseClick(muteButton(), Qt::LeftButton);
        QCOMPARE(muteButton()->text(), QStringLiteral("静音"));
        QVERIFY(!ScriptedRtcBackend::isLocalAudioMuted());
        QVERIFY(!userState().value("muted").toBool());

        // Stop: back to state 2, the service told the user is no longer live.
        QTest::mouseClick(pushButton(), Qt::LeftButton);
        QCOMPARE(panel()->pushState(), 2);
        QCOMPARE(pushButton()->text(), QStringLiteral("开始推流"));
        QVERIFY(!ScriptedRtcBackend::isJoined());
        QVERIFY(ScriptedRtcBackend::publishedUrls().isEmpty());
        QVERIFY(!userState().value("live").toBool());
        QVERIFY(!muteButton()->isVisible());

        // Leaving the panel shows the login window where the panel was.
        panel()->move(300, 200);
        const QPoint place = panel()->frameGeometry().topLeft();
        QTest::mouseClick(panel()->findChild<QPushButton*>(QStringLiteral("pushButton_close")),
                          Qt::LeftButton);
        QVERIFY(!panel()->isVisible());
        QVERIFY(m_window->isVisible());
        QCOMPARE(m_window->frameGeometry().topLeft(), place);
        QCOMPARE(panel()->pushState(), 0);
        QCOMPARE(ScriptedRtcBackend::liveEngineCount(), 0);

        // A second login starts afresh.
        logIn();
        QCOMPARE(panel()->pushState(), 1);
        QCOMPARE(pushButton()->text(), QStringLiteral("进入房间"));
    }

    void closingWhilePushingLeavesTheRoom()
    {
        phone(QStringLiteral("room"), {{"roomId", kRoom}});
        phone(QStringLiteral("mic"), {{"on", "1"}});
        logIn();
        QTest::mouseClick(pushButton(), Qt::LeftButton);
        QTest::mouseClick(pushButton(), Qt::LeftButton);
        QCOMPARE(panel()->pushState(), 3);

        panel()->close();
        QVERIFY(!ScriptedRtcBackend::isJoined());
        QVERIFY(ScriptedRtcBackend::publishedUrls().isEmpty());
        QVERIFY(!userState().value("live").toBool());
        QString channel, account, rtcUid;
        MuSettings::instance()->roomIdentity(channel, account, rtcUid);
        QVERIFY(channel.isEmpty());
        QVERIFY(m_window->isVisible());
    }

    // The service ends the session (another device logged in): the panel gives up, and
    // dismissing its message returns to the login window.
    void sessionEndedByTheServiceReturnsToLogin()
    {
        phone(QStringLiteral("room"), {{"roomId", kRoom}});
        logIn();
        QTest::mouseClick(pushButton(), Qt::LeftButton);
        QCOMPARE(panel()->pushState(), 2);

        phone(QStringLiteral("end"), {{"code", "3190"}});
        QTRY_VERIFY_WITH_TIMEOUT(messageBox()->isVisible(), kHeartbeatWaitMs);
        QCOMPARE(panel()->pushState(), 0);
        QCOMPARE(messageBox()->findChild<QLabel*>(QStringLiteral("label_line1"))->text(),
                 QStringLiteral("您的账号已在其他设备登录"));
        QVERIFY(!m_window->isVisible());
        dismissMessage();
        QVERIFY(m_window->isVisible());
        QVERIFY(!panel()->isVisible());

        // Logging in again clears the ended session on the service.
        logIn();
        QCOMPARE(panel()->pushState(), 1);
    }

private:
    MuVoicePanel* panel() const { return m_window->voicePanel(); }
    QPushButton* pushButton() const
    {
        return panel()->findChild<QPushButton*>(QStringLiteral("pushButton_push"));
    }
    QPushButton* muteButton() const
    {
        return panel()->findChild<QPushButton*>(QStringLiteral("pushButton_mute"));
    }
    QLabel* pushLabel() const { return panel()->findChild<QLabel*>(QStringLiteral("label_push")); }
    MuMsgboxEx* messageBox() const { return panel()->messageBox(); }

    void logIn()
    {
        m_window->findChild<QLineEdit*>(QStringLiteral("lineEdit_userid"))->setText(QLatin1String(kUser));
        m_window->findChild<QLineEdit*>(QStringLiteral("lineEdit_password"))
            ->setText(QStringLiteral("123456"));
        QTest::mouseClick(m_window->findChild<QPushButton*>(QStringLiteral("pushButton_login")),
                          Qt::LeftButton);
        QVERIFY(panel()->isVisible());
        QVERIFY(!m_window->isVisible());
    }

    void dismissMessage()
    {
        QTest::mouseClick(messageBox()->findChild<QPushButton*>(QStringLiteral("pushButton_ok")),
                          Qt::LeftButton);
        QVERIFY(!messageBox()->isVisible());
    }

    void phone(const QString& operation, const QList<QPair<QString, QString>>& items)
    {
        QUrlQuery query;
        query.addQueryItem(QStringLiteral("userId"), QLatin1String(kUser));
        for (const auto& item : items)
            query.addQueryItem(item.first, item.second);
        const QJsonObject reply = m_services->admin(operation, query);
        QVERIFY2(reply.value("code").toInt() == 1, QJsonDocument(reply).toJson().constData());
    }

    QJsonObject userState() const
    {
        const QJsonObject state = m_services->admin(QStringLiteral("state"), QUrlQuery(), false);
        for (const QJsonValue& user : state.value("data").toObject().value("users").toArray())
            if (user.toObject().value("userId").toString() == QLatin1String(kUser))
                return user.toObject();
        return QJsonObject();
    }

    std::unique_ptr<LocalServices> m_services;
    std::unique_ptr<TestEnv::ScopedWorkDir> m_workDir;
    std::unique_ptr<MuVozedIvazerida> m_window;
};

QTEST_MAIN(TestLoginWorkflow)
#include "tst_LoginWorkflow.moc"
