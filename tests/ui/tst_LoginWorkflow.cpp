#include "LoginTestPeers.h"

#include "app/MuSettings.h"
#include "config/VGlobalConfig.h"
#include "rtc/sdk/ScriptedRtcBackend.h"
#include "support/TestEnv.h"
#include "ui/MuMsgbox.h"
#include "ui/MuMsgboxEx.h"
#include "ui/MuVoicePanel.h"
#include "ui/MuVozedIvazerida.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QtTest>

#include <memory>

using agora::rtc::ScriptedRtcBackend;

namespace {

const QString kUser = QStringLiteral("10001");
const QString kPassword = QStringLiteral("123456");
const QString kRoom = QStringLiteral("8801");
// Heartbeats come every 2 s; give the service's answer a few of them to show.
const int kHeartbeatWaitMs = 10000;

} // namespace

// The whole road of a session through the real windows, against the local services program
// (the phone side played through its admin API) and the scripted RTC backend.
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
        VGlobalConfig::instance()->setValue(QStringLiteral("ServerType"), QStringLiteral("1000"));
        VGlobalConfig::instance()->setValue(QStringLiteral("sdkinit"), m_services->baseUrl() + "sdkinit");
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
        logIn(QStringLiteral("wrong"));
        QCOMPARE(m_window->findChild<MuMsgbox*>()->text(), QStringLiteral("用户ID或密码错误"));
        logIn(kPassword);
        QCOMPARE(panel()->pushState(), 1);
        QCOMPARE(pushButton()->text(), QStringLiteral("进入房间"));

        // Not in a room on the phone yet.
        QTest::mouseClick(pushButton(), Qt::LeftButton);
        QCOMPARE(panel()->pushState(), 1);
        dismissMessage();

        phone(QStringLiteral("room"), {{"roomId", kRoom}});
        QTest::mouseClick(pushButton(), Qt::LeftButton);
        QCOMPARE(panel()->pushState(), 2);
        QCOMPARE(pushButton()->text(), QStringLiteral("开始推流"));

        // In the room but not on a microphone: the service refuses the push.
        QTest::mouseClick(pushButton(), Qt::LeftButton);
        QCOMPARE(panel()->pushState(), 2);
        QVERIFY(!ScriptedRtcBackend::isJoined());
        dismissMessage();

        phone(QStringLiteral("mic"), {{"on", "1"}});
        QTest::mouseClick(pushButton(), Qt::LeftButton);
        QCOMPARE(panel()->pushState(), 3);
        QCOMPARE(pushButton()->text(), QStringLiteral("结束直播"));
        const QStringList joins = ScriptedRtcBackend::calls().filter(QStringLiteral("joinChannel("));
        QCOMPARE(joins.size(), 1);
        QVERIFY2(joins.first().endsWith(QStringLiteral(", %1, null, %2)").arg(kRoom).arg(quint32(-10001))),
                 qPrintable(joins.first()));
        QCOMPARE(ScriptedRtcBackend::publishedUrls(), QStringList{"rtmp://127.0.0.1:1935/live/" + kRoom});
        QVERIFY(userState().value("live").toBool());
        QCOMPARE(muteButton()->text(), QStringLiteral("静音"));

        // The room bans the microphone: muted locally and on the service, the button inert.
        phone(QStringLiteral("ban"), {{"banned", "1"}});
        QTRY_COMPARE_WITH_TIMEOUT(muteButton()->text(), QStringLiteral("禁麦中"), kHeartbeatWaitMs);
        QVERIFY(ScriptedRtcBackend::isLocalAudioMuted());
        QVERIFY(userState().value("muted").toBool());
        QTest::mouseClick(muteButton(), Qt::LeftButton);
        QVERIFY(ScriptedRtcBackend::isLocalAudioMuted());

        // Freed again: the audio stays muted until the user unmutes.
        phone(QStringLiteral("ban"), {{"banned", "0"}});
        QTRY_COMPARE_WITH_TIMEOUT(muteButton()->text(), QStringLiteral("静音中"), kHeartbeatWaitMs);
        QTest::mouseClick(muteButton(), Qt::LeftButton);
        QCOMPARE(muteButton()->text(), QStringLiteral("静音"));
        QVERIFY(!ScriptedRtcBackend::isLocalAudioMuted());

        QTest::mouseClick(pushButton(), Qt::LeftButton);
        QCOMPARE(panel()->pushState(), 2);
        QVERIFY(!ScriptedRtcBackend::isJoined());
        QVERIFY(ScriptedRtcBackend::publishedUrls().isEmpty());
        QVERIFY(!userState().value("live").toBool());

        // Leaving the panel shows the login window where the panel was.
        panel()->move(300, 200);
        const QPoint place = panel()->frameGeometry().topLeft();
        QTest::mouseClick(panel()->findChild<QPushButton*>(QStringLiteral("pushButton_close")),
                          Qt::LeftButton);
        QVERIFY(m_window->isVisible());
        QCOMPARE(m_window->frameGeometry().topLeft(), place);
        QCOMPARE(ScriptedRtcBackend::liveEngineCount(), 0);

        // The successful login was remembered.
        MuSettings::destroy();
        QSettings ini(QStringLiteral("MuVozedIvazerida.ini"), QSettings::IniFormat);
        QCOMPARE(ini.value(QStringLiteral("userid")).toString(), kUser);
        QCOMPARE(MuVozedIvazerida::scrambleText(ini.value(QStringLiteral("password")).toString(), true),
                 kPassword);
    }

    // The service ends the session (another device logged in): the panel gives up, and
    // dismissing its message returns to the login window, from which a new login starts afresh.
    void sessionEndedByTheServiceReturnsToLogin()
    {
        phone(QStringLiteral("room"), {{"roomId", kRoom}});
        logIn(kPassword);
        QTest::mouseClick(pushButton(), Qt::LeftButton);
        QCOMPARE(panel()->pushState(), 2);

        phone(QStringLiteral("end"), {{"code", "3190"}});
        QTRY_VERIFY_WITH_TIMEOUT(messageBox()->isVisible(), kHeartbeatWaitMs);
        QCOMPARE(panel()->pushState(), 0);
        QVERIFY(!m_window->isVisible());
        dismissMessage();
        QVERIFY(m_window->isVisible());
        QVERIFY(!panel()->isVisible());

        logIn(kPassword);
        QCOMPARE(panel()->pushState(), 1);
        QCOMPARE(pushButton()->text(), QStringLiteral("进入房间"));
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
    MuMsgboxEx* messageBox() const { return panel()->messageBox(); }

    // Succeeds (the panel takes the window's place) only with the demo password.
    void logIn(const QString& password)
    {
        m_window->findChild<QLineEdit*>(QStringLiteral("lineEdit_userid"))->setText(kUser);
        m_window->findChild<QLineEdit*>(QStringLiteral("lineEdit_password"))->setText(password);
        QTest::mouseClick(m_window->findChild<QPushButton*>(QStringLiteral("pushButton_login")),
                          Qt::LeftButton);
        QCOMPARE(panel()->isVisible(), password == kPassword);
        QCOMPARE(m_window->isVisible(), password != kPassword);
    }

    void dismissMessage()
    {
        QVERIFY(messageBox()->isVisible());
        QTest::mouseClick(messageBox()->findChild<QPushButton*>(QStringLiteral("pushButton_ok")),
                          Qt::LeftButton);
        QVERIFY(!messageBox()->isVisible());
    }

    void phone(const QString& operation, const QList<QPair<QString, QString>>& items)
    {
        QUrlQuery query;
        query.addQueryItem(QStringLiteral("userId"), kUser);
        for (const auto& item : items)
            query.addQueryItem(item.first, item.second);
        const QJsonObject reply = m_services->admin(operation, query);
        QVERIFY2(reply.value("code").toInt() == 1, QJsonDocument(reply).toJson().constData());
    }

    QJsonObject userState() const
    {
        const QJsonObject state = m_services->admin(QStringLiteral("state"), QUrlQuery(), false);
        for (const QJsonValue& user : state.value("data").toObject().value("users").toArray())
            if (user.toObject().value("userId").toString() == kUser)
                return user.toObject();
        return QJsonObject();
    }

    std::unique_ptr<LocalServices> m_services;
    std::unique_ptr<TestEnv::ScopedWorkDir> m_workDir;
    std::unique_ptr<MuVozedIvazerida> m_window;
};

QTEST_MAIN(TestLoginWorkflow)
#include "tst_LoginWorkflow.moc"
