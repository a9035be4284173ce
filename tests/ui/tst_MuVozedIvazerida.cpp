// The login window against a scripted configuration and push-stream service: what it sends, shows, keeps.
#include "net/http/TestHttpServer.h"
#include "support/LogCapture.h"
#include "support/SessionDriver.h"
#include "support/TestEnv.h"

#include "base/MuSettings.h"
#include "config/VGlobalConfig.h"
#include "support/ScriptedRtcBackend.h"
#include "ui/MuMsgbox.h"
#include "ui/MuVoicePanel.h"
#include "ui/MuVozedIvazerida.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include <memory>

using agora::rtc::ScriptedRtcBackend;
using Answer = TestHttpServer::Answer;

class TestMuVozedIvazerida : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { m_log = std::make_unique<LogCapture>(); }

    void init()
    {
        ScriptedRtcBackend::setEnabled(true);
        m_server = std::make_unique<TestHttpServer>();
        m_workDir = std::make_unique<TestEnv::ScopedWorkDir>();
        VGlobalConfig::instance()->setValue(QStringLiteral("ServerType"), QStringLiteral("1000"));
        VGlobalConfig::instance()->setValue(QStringLiteral("sdkinit"), m_server->url("/sdkinit"));
        VGlobalConfig::instance()->setValue(QStringLiteral("roomServer"), QString());
        answer("{\"code\":3001,\"msg\":\"账号或密码错误\"}");
        m_user = std::make_unique<SessionDriver>();
        LogCapture::clear();
    }

    void cleanup()
    {
        m_user.reset();
        m_workDir.reset();
        m_server.reset();
    }

    // Enter logs in from the password field only; spaces go before the checks, which stop at the first.
    void fieldChecks_data()
    {
        QTest::addColumn<QString>("userId");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("toast");
        QTest::addColumn<QString>("cleanUserId");
        QTest::addColumn<QString>("cleanPassword");
        // clang-format off
        QTest::newRow("both empty: user ID first") << "" << "" << "用户ID不正确" << "" << "";
        QTest::newRow("spaces only in user ID") << "   " << "123456" << "用户ID不正确" << "" << "123456";
        QTest::newRow("spaces only in password") << " 1 00 01 " << "  " << "用户密码不正确" << "10001" << "";
        QTest::newRow("sent without spaces") << " 100 01 " << "12 34 56" << "账号或密码错误" << "10001" << "123456";
        // clang-format on
    }

    void fieldChecks()
    {
        QFETCH(QString, userId);
        QFETCH(QString, password);
        m_user->edit("lineEdit_userid")->setText(userId);
        m_user->edit("lineEdit_password")->setText(password);
        QTest::keyClick(m_user->edit("lineEdit_userid"), Qt::Key_Return);
        QTest::keyClick(m_user->edit("lineEdit_userid"), Qt::Key_Enter);
        QVERIFY(m_user->toast().isEmpty() && m_server->requests().isEmpty());
        QTest::keyClick(m_user->edit("lineEdit_password"), Qt::Key_Return);
        QTEST(m_user->toast(), "toast");
        QTEST(m_user->edit("lineEdit_userid")->text(), "cleanUserId");
        QTEST(m_user->edit("lineEdit_password")->text(), "cleanPassword");
        verifyIdle();
        // Only a login that passed the checks asks the service (configuration, then login).
        QCOMPARE(m_server->requests().size(), m_user->toast() == QStringLiteral("账号或密码错误") ? 2 : 0);
        if (m_server->requests().isEmpty())
            return;
        const QString md5 = MuSettings::md5Hex(QStringLiteral("123456"));
        const QByteArray login = m_server->requests().last().target;
        QVERIFY2(login.startsWith("/pushStreamHelper/login?") && login.contains("phoneNumber=10001"), login);
        QVERIFY2(login.contains(md5.toUtf8()), login);
        QCOMPARE(LogCapture::lines().filter(QRegularExpression("123456|" + md5)),
                 QStringList()); // no secrets
    }

    // A refused login keeps the window and the stored credentials; only a refusal code lets the msg
    // through, as plain text minus what reorders or breaks the line, else our own text.
    void failedLoginLeavesSettings_data()
    {
        QTest::addColumn<QByteArray>("login");
        QTest::addColumn<QString>("toast");
        const QString wrong = QStringLiteral("用户ID密码不正确");
        // clang-format off
        QTest::newRow("refused with a message") << QByteArray("{\"code\":3001,\"msg\":\"账号不存在\"}") << "账号不存在";
        QTest::newRow("refusal code 0 with a message") << QByteArray("{\"code\":0,\"msg\":\"停用\"}") << "停用";
        QTest::newRow("refused without a message") << QByteArray("{\"code\":3001,\"msg\":\"\"}") << wrong;
        QTest::newRow("HTTP 500 with a refusal") << QByteArray("HTTP 500 {\"code\":2001,\"msg\":\"x\"}") << wrong;
        QTest::newRow("success, userId a number") << QByteArray("{\"code\":1,\"msg\":\"success\",\"data\":{\"userId\":5}}") << wrong;
        QTest::newRow("success, empty userId") << QByteArray("{\"code\":1,\"msg\":\"ok\",\"data\":{\"userId\":\"\"}}") << wrong;
        QTest::newRow("no code") << QByteArray("{\"msg\":\"success\"}") << wrong;
        QTest::newRow("bidi, breaks and controls") << QByteArray("{\"code\":2001,\"msg\":\"\\u202eE\\u2067V\\u2069I\\u200fL\\n\\u0001!\\r\\nx\\ty\"}") << "EVIL !  x y";
        QTest::newRow("emoji joiner kept") << QByteArray("{\"code\":2001,\"msg\":\"\xf0\x9f\x91\xa9\xe2\x80\x8d\xf0\x9f\x92\xbb\"}") << QStringLiteral("👩\u200d💻");
        // clang-format on
    }

    void failedLoginLeavesSettings()
    {
        QFETCH(QByteArray, login);
        answer(login);
        MuSettings::instance()->saveLogin(QStringLiteral("777"), QStringLiteral("b2xk"), QString());
        MuSettings::destroyInstance();
        const QString iniBefore = TestEnv::readText(QStringLiteral("MuVozedIvazerida.ini"));

        m_user->attemptLogin();
        QTEST(m_user->toast(), "toast");
        QCOMPARE(m_user->window()->findChild<MuMsgbox*>()->findChild<QLabel*>("label_msgbox")->textFormat(),
                 Qt::PlainText);
        verifyIdle();
        QCOMPARE(m_server->requests().size(), 2);
        QVERIFY(m_user->window()->isVisible() && !m_user->window()->voicePanel()->isVisible());
        m_user.reset(); // writes whatever the store holds
        QCOMPARE(TestEnv::readText(QStringLiteral("MuVozedIvazerida.ini")), iniBefore);
    }

    // A silent service: the request gives up after its 10 s, and no second attempt starts meanwhile.
    void slowServiceAndNoSecondAttempt()
    {
        m_server->neverAnswer();
        ManualClock& clock = m_user->clock();
        QObject scope; // the steps below die with this test
        bool busySeen = false;
        QTimer::singleShot(50, &scope, [this, &busySeen, &clock, &scope]() {
            busySeen = !loginButton()->isEnabled() && loginButton()->text() == QStringLiteral("登录中...");
            QTest::keyClick(m_user->edit("lineEdit_password"), Qt::Key_Return);
            QTest::mouseClick(loginButton(), Qt::LeftButton);
            QVERIFY(m_server->waitForRequests(1));
            clock.advance(9999); // the request gives up at its 10 s, not before
            QTimer::singleShot(50, &scope, [&clock]() { clock.advance(1); });
        });
        m_user->attemptLogin();
        QVERIFY(busySeen && m_server->requests().size() == 1);
        QCOMPARE(m_user->toast(), QStringLiteral("初始化为空"));
        verifyIdle();
    }

    // Closed while the configuration request waits: the late answer brings up no panel.
    void closedWhileLoggingIn()
    {
        answer("{\"code\":1,\"data\":{\"userId\":\"5\"}}", 400);
        QTimer::singleShot(100, m_user->window(), &QWidget::close);
        m_user->attemptLogin();
        QVERIFY(!m_user->window()->isVisible() && !m_user->window()->voicePanel()->isVisible());
        QTest::keyClick(m_user->edit("lineEdit_password"), Qt::Key_Return);
        QCOMPARE(m_server->requests().size(), 1);
    }

    void closeSavesCredentialsShownAtNextStart()
    {
        m_user->edit("lineEdit_userid")->setText(QStringLiteral("20002"));
        m_user->edit("lineEdit_password")->setText(QStringLiteral("秘密 pass"));
        QTest::mouseClick(m_user->window()->findChild<QPushButton*>("pushButton_close"), Qt::LeftButton);
        QVERIFY(!m_user->window()->isVisible());
        m_user.reset();
        const QString ini = TestEnv::readText("MuVozedIvazerida.ini"); // the password scrambled
        QVERIFY2(ini.contains("\nuserid=20002\n") && !ini.contains("秘密"), qPrintable(ini));

        m_user = std::make_unique<SessionDriver>();
        QCOMPARE(m_user->edit("lineEdit_userid")->text(), "20002");
        QCOMPARE(m_user->edit("lineEdit_password")->text(), "秘密 pass");
    }

private:
    // The configuration sends the login here, which answers `login` ("HTTP <status> <body>" for not 200).
    void answer(const QByteArray& login, int configDelayMs = 0)
    {
        const QByteArray config =
            "{\"code\":1,\"data\":{\"roomServer\":\"" + m_server->url().toUtf8() + "\"}}";
        m_server->setResponder([=](const TestHttpServer::Request& request) {
            if (request.target.startsWith("/sdkinit"))
                return Answer{200, config, false, configDelayMs};
            const bool plain = !login.startsWith("HTTP ");
            return Answer{plain ? 200 : login.mid(5, 3).toInt(), plain ? login : login.mid(9), false, 0};
        });
    }
    QPushButton* loginButton() const { return m_user->button("pushButton_login"); }
    void verifyIdle() const { QVERIFY(loginButton()->isEnabled() && loginButton()->text() == "登录"); }
    std::unique_ptr<TestHttpServer> m_server;
    std::unique_ptr<TestEnv::ScopedWorkDir> m_workDir;
    std::unique_ptr<LogCapture> m_log;
    std::unique_ptr<SessionDriver> m_user;
};

QTEST_MAIN(TestMuVozedIvazerida)
#include "tst_MuVozedIvazerida.moc"
