#include "LoginTestPeers.h"

#include "app/MuSettings.h"
#include "config/VGlobalConfig.h"
#include "rtc/sdk/ScriptedRtcBackend.h"
#include "support/TestEnv.h"
#include "ui/MuMsgbox.h"
#include "ui/MuVoicePanel.h"
#include "ui/MuVozedIvazerida.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QtTest>

#include <memory>

using Reply = ScriptedHttpServer::Reply;

namespace {

const QString kSdkInitPath = QStringLiteral("/sdkinit");
const QString kLoginPath = QStringLiteral("/pushStreamHelper/login");

QByteArray sdkInitReply(const QString& roomServer)
{
    return QStringLiteral("{\"code\":1,\"data\":{\"roomServer\":\"%1\"}}").arg(roomServer).toUtf8();
}

// An address on 127.0.0.1 where nothing listens.
QString refusedBaseUrl()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return QStringLiteral("http://127.0.0.1:%1/").arg(probe.serverPort());
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

// The login window against a scripted configuration and push-stream service: the field
// checks, every failure and its toast, remembered credentials, closing and dragging.
class TestMuVozedIvazerida : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        agora::rtc::ScriptedRtcBackend::setEnabled(true);
        // Closing the window under test must not end the test's event loops.
        QApplication::setQuitOnLastWindowClosed(false);
        QVERIFY(m_server.isListening());
    }

    void init()
    {
        m_workDir = std::make_unique<TestEnv::ScopedWorkDir>();
        VGlobalConfig* config = VGlobalConfig::instance();
        config->setValue(QStringLiteral("ServerType"), QStringLiteral("1000"));
        config->setValue(QStringLiteral("sdkinit"), m_server.baseUrl() + QLatin1String("sdkinit"));
        config->setValue(QStringLiteral("roomServer"), QString());
        m_server.clearTargets();
        setLoginReply(QByteArray("{\"code\":3001,\"msg\":\"账号或密码错误\"}"));
        m_window = std::make_unique<MuVozedIvazerida>();
        m_window->show();
    }

    void cleanup()
    {
        m_window.reset();
        MuSettings::destroy();
        m_workDir.reset();
    }

    void picturesAreCompiledIn()
    {
        for (const char* picture : {":/BG.png", ":/tavio_ziti.png", ":/yyzslogo384.png", ":/ic_guanbi.png"})
            QVERIFY2(QFile::exists(QLatin1String(picture)), picture);
    }

    void fieldChecks_data()
    {
        QTest::addColumn<QString>("userId");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("toast");
        QTest::addColumn<QString>("cleanUserId");
        QTest::addColumn<QString>("cleanPassword");
        QTest::newRow("both empty: the user ID first") << ""
                                                       << ""
                                                       << "用户ID不正确"
                                                       << ""
                                                       << "";
        QTest::newRow("spaces only in the user ID") << "   "
                                                    << "123456"
                                                    << "用户ID不正确"
                                                    << ""
                                                    << "123456";
        QTest::newRow("spaces only in the password") << " 1 00 01 "
                                                     << "  "
                                                     << "用户密码不正确"
                                                     << "10001"
                                                     << "";
    }

    void fieldChecks()
    {
        QFETCH(QString, userId);
        QFETCH(QString, password);
        QFETCH(QString, toast);
        attemptLogin(userId, password);
        QCOMPARE(toastText(), toast);
        QFETCH(QString, cleanUserId);
        QFETCH(QString, cleanPassword);
        QCOMPARE(userIdEdit()->text(), cleanUserId);
        QCOMPARE(passwordEdit()->text(), cleanPassword);
        QVERIFY(m_server.targets().isEmpty());
        verifyIdle();
    }

    void spacesRemovedBeforeSendingAndQuerySigned()
    {
        attemptLogin(QStringLiteral(" 100 01 "), QStringLiteral("12 34 56"));
        QCOMPARE(userIdEdit()->text(), QStringLiteral("10001"));
        QCOMPARE(passwordEdit()->text(), QStringLiteral("123456"));

        const QStringList targets = m_server.targets();
        QCOMPARE(targets.size(), 2);
        QStringList keys;
        for (const auto& item : QUrlQuery(QUrl(targets.at(0)).query()).queryItems())
            keys << item.first;
        QCOMPARE(keys, QStringList(
                           {"appId", "bigVersion", "version", "deviceId", "deviceType", "product", "sign"}));
        QVERIFY2(targets.at(1).startsWith(kLoginPath), qPrintable(targets.at(1)));
        QVERIFY(targets.at(1).contains(QLatin1String("phoneNumber=10001")));
        QVERIFY(targets.at(1).contains(MuSettings::md5Hex(QStringLiteral("123456"))));
    }

    void enterInPasswordFieldLogsIn()
    {
        userIdEdit()->setText(QStringLiteral("10001"));
        passwordEdit()->setText(QStringLiteral("bad"));
        QTest::keyClick(userIdEdit(), Qt::Key_Return);
        QTest::keyClick(userIdEdit(), Qt::Key_Enter);
        QVERIFY(m_server.targets().isEmpty());

        QTest::keyClick(passwordEdit(), Qt::Key_Return);
        QCOMPARE(m_server.countPath(kLoginPath), 1);
        QCOMPARE(toastText(), QStringLiteral("账号或密码错误"));
    }

    void configurationFailures_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("down");
        QTest::addColumn<QString>("toast");
        QTest::newRow("service down") << 200 << QByteArray() << true << "初始化为空";
        QTest::newRow("empty reply") << 200 << QByteArray() << false << "初始化为空";
        QTest::newRow("server error") << 500 << QByteArray("{\"code\":500}") << false << "初始化为空";
        QTest::newRow("nonsense") << 200 << QByteArray("<html>hello</html>") << false << "服务为空";
        QTest::newRow("no roomServer")
            << 200 << QByteArray("{\"code\":1,\"data\":{\"roomServer\":42}}") << false << "服务为空";
    }

    void configurationFailures()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(bool, down);
        QFETCH(QString, toast);
        if (down)
            VGlobalConfig::instance()->setValue(QStringLiteral("sdkinit"), refusedBaseUrl() + "sdkinit");
        m_server.setHandler([status, body](const QString&) { return Reply{status, body, false, 0}; });
        attemptLogin(QStringLiteral("10001"), QStringLiteral("123456"));
        QCOMPARE(toastText(), toast);
        verifyIdle();
        QCOMPARE(m_server.countPath(kLoginPath), 0);
        QVERIFY(!m_window->voicePanel()->isVisible());
        QVERIFY(!QFile::exists(QStringLiteral("MuVozedIvazerida.ini")));
    }

    // A service that never answers: the blocking request gives up after its 10 s, and no second
    // attempt (Enter in the password field, the button) starts while the first one waits.
    void slowConfigurationServiceAndNoSecondAttempt()
    {
        m_server.setHandler([](const QString&) { return Reply{200, QByteArray(), true, 0}; });
        bool busySeen = false;
        QTimer::singleShot(500, this, [this, &busySeen]() {
            busySeen = !loginButton()->isEnabled() && loginButton()->text() == QStringLiteral("登录中...");
            QTest::keyClick(passwordEdit(), Qt::Key_Return);
            QTest::mouseClick(loginButton(), Qt::LeftButton);
        });
        attemptLogin(QStringLiteral("10001"), QStringLiteral("123456"));
        QVERIFY(busySeen);
        QCOMPARE(m_server.countPath(kSdkInitPath), 1);
        QCOMPARE(toastText(), QStringLiteral("初始化为空"));
        verifyIdle();
    }

    void loginRefusals_data()
    {
        QTest::addColumn<QByteArray>("loginReply");
        QTest::addColumn<bool>("loginServiceDown");
        QTest::addColumn<QString>("toast");
        QTest::newRow("with a message")
            << QByteArray("{\"code\":3001,\"msg\":\"账号不存在\"}") << false << "账号不存在";
        QTest::newRow("without a message")
            << QByteArray("{\"code\":3001,\"msg\":\"\"}") << false << "用户ID密码不正确";
        QTest::newRow("nonsense") << QByteArray("not json at all") << false << "用户ID密码不正确";
        QTest::newRow("service down") << QByteArray() << true << "网络异常";
    }

    // A refused login keeps the window and leaves the remembered credentials as they were.
    void loginRefusals()
    {
        QFETCH(QByteArray, loginReply);
        QFETCH(bool, loginServiceDown);
        QFETCH(QString, toast);
        setLoginReply(loginReply, loginServiceDown ? refusedBaseUrl() : QString());
        MuSettings::instance()->saveLogin(QStringLiteral("777"), QStringLiteral("b2xk"), QString());
        MuSettings::destroy();
        const QByteArray iniBefore = readFile(QStringLiteral("MuVozedIvazerida.ini"));

        attemptLogin(QStringLiteral("10001"), QStringLiteral("123456"));
        QCOMPARE(toastText(), toast);
        verifyIdle();
        QVERIFY(m_window->isVisible());
        QVERIFY(!m_window->voicePanel()->isVisible());

        m_window.reset();
        MuSettings::destroy(); // writes whatever the store holds
        QCOMPARE(readFile(QStringLiteral("MuVozedIvazerida.ini")), iniBefore);
    }

    void closeSavesCredentialsShownAtNextStart()
    {
        userIdEdit()->setText(QStringLiteral("20002"));
        passwordEdit()->setText(QStringLiteral("秘密 pass"));
        QTest::mouseClick(m_window->findChild<QPushButton*>(QStringLiteral("pushButton_close")),
                          Qt::LeftButton);
        QVERIFY(!m_window->isVisible());
        m_window.reset();
        MuSettings::destroy();

        QSettings ini(QStringLiteral("MuVozedIvazerida.ini"), QSettings::IniFormat);
        QCOMPARE(ini.value(QStringLiteral("userid")).toString(), QStringLiteral("20002"));
        QVERIFY(ini.value(QStringLiteral("password")).toString() != QStringLiteral("秘密 pass"));

        m_window = std::make_unique<MuVozedIvazerida>();
        QCOMPARE(userIdEdit()->text(), QStringLiteral("20002"));
        QCOMPARE(passwordEdit()->text(), QStringLiteral("秘密 pass"));
    }

    // Closed while the configuration request waits: the late answer brings up no panel.
    void closedWhileLoggingIn()
    {
        m_server.setHandler([this](const QString& target) {
            if (target.startsWith(kSdkInitPath))
                return Reply{200, sdkInitReply(m_server.baseUrl()), false, 1000};
            return Reply{200, QByteArray("{\"code\":1,\"data\":{\"userId\":\"5\"}}"), false, 0};
        });
        QTimer::singleShot(200, m_window.get(), [this]() { m_window->close(); });
        attemptLogin(QStringLiteral("10001"), QStringLiteral("123456"));
        QVERIFY(!m_window->isVisible());
        QVERIFY(!m_window->voicePanel()->isVisible());
        QCOMPARE(m_server.countPath(kLoginPath), 0);
        QTest::keyClick(passwordEdit(), Qt::Key_Return);
        QCOMPARE(m_server.countPath(kSdkInitPath), 1);
    }

    void dragging()
    {
        m_window->move(100, 100);
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
        const QPoint start = m_window->frameGeometry().topLeft();
        sendMouse(QEvent::MouseButtonPress, {10, 300}, Qt::LeftButton, Qt::LeftButton);
        sendMouse(QEvent::MouseMove, {40, 320}, Qt::NoButton, Qt::LeftButton);
        QCOMPARE(m_window->frameGeometry().topLeft(), start + QPoint(30, 20));
        sendMouse(QEvent::MouseButtonRelease, {40, 320}, Qt::LeftButton, Qt::NoButton);
        const QPoint dropped = m_window->frameGeometry().topLeft();
        sendMouse(QEvent::MouseMove, {90, 330}, Qt::NoButton, Qt::LeftButton);
        sendMouse(QEvent::MouseButtonPress, {10, 300}, Qt::RightButton, Qt::RightButton);
        sendMouse(QEvent::MouseMove, {60, 300}, Qt::NoButton, Qt::RightButton);
        QCOMPARE(m_window->frameGeometry().topLeft(), dropped);
    }

private:
    QLineEdit* userIdEdit() const
    {
        return m_window->findChild<QLineEdit*>(QStringLiteral("lineEdit_userid"));
    }
    QLineEdit* passwordEdit() const
    {
        return m_window->findChild<QLineEdit*>(QStringLiteral("lineEdit_password"));
    }
    QPushButton* loginButton() const
    {
        return m_window->findChild<QPushButton*>(QStringLiteral("pushButton_login"));
    }

    // The visible toast's text; empty when no toast shows.
    QString toastText() const
    {
        const MuMsgbox* toast = m_window->findChild<MuMsgbox*>();
        return toast && toast->isVisible() ? toast->text() : QString();
    }

    void verifyIdle() const
    {
        QCOMPARE(loginButton()->text(), QStringLiteral("登录"));
        QVERIFY(loginButton()->isEnabled());
    }

    void attemptLogin(const QString& userId, const QString& password)
    {
        userIdEdit()->setText(userId);
        passwordEdit()->setText(password);
        QTest::mouseClick(loginButton(), Qt::LeftButton);
    }

    // The configuration reply points at roomServer (this server when empty); login gets reply.
    void setLoginReply(const QByteArray& reply, const QString& roomServer = QString())
    {
        const QString room = roomServer.isEmpty() ? m_server.baseUrl() : roomServer;
        m_server.setHandler([room, reply](const QString& target) {
            return Reply{200, target.startsWith(kSdkInitPath) ? sdkInitReply(room) : reply, false, 0};
        });
    }

    // Sent to the background picture, which leaves mouse presses to the window under it.
    void sendMouse(QEvent::Type type, const QPoint& local, Qt::MouseButton button, Qt::MouseButtons buttons)
    {
        QWidget* background = m_window->findChild<QWidget*>(QStringLiteral("widget_VozedIvazerida"));
        const QPoint global = m_window->mapToGlobal(local);
        QMouseEvent event(type, background->mapFromGlobal(global), global, button, buttons, Qt::NoModifier);
        QApplication::sendEvent(background, &event);
    }

    ScriptedHttpServer m_server;
    std::unique_ptr<TestEnv::ScopedWorkDir> m_workDir;
    std::unique_ptr<MuVozedIvazerida> m_window;
};

QTEST_MAIN(TestMuVozedIvazerida)
#include "tst_MuVozedIvazerida.moc"
