#include "LoginTestPeers.h"

#include "app/MuSettings.h"
#include "config/VGlobalConfig.h"
#include "rtc/sdk/ScriptedRtcBackend.h"
#include "support/TestEnv.h"
#include "ui/MuMsgbox.h"
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

const char kSdkInitPath[] = "/sdkinit";
const char kLoginPath[] = "/pushStreamHelper/login";

QByteArray sdkInitReply(const QString& roomServer)
{
    return QStringLiteral("{\"code\":1,\"msg\":\"\",\"data\":{\"roomServer\":\"%1\"}}")
        .arg(roomServer)
        .toUtf8();
}

// A port on 127.0.0.1 where nothing listens.
QString refusedBaseUrl()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    return QStringLiteral("http://127.0.0.1:%1/").arg(port);
}

} // namespace

// The login window: its form, the field checks, the configuration request and the login
// against scripted replies and against the local services program, remembered credentials
// and closing.
class TestMuVozedIvazerida : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        ScriptedRtcBackend::setEnabled(true);
        // Closing the window under test must not end the test's event loops.
        QApplication::setQuitOnLastWindowClosed(false);
        QVERIFY(m_server.isListening());
    }

    void init()
    {
        ScriptedRtcBackend::reset();
        m_workDir = std::make_unique<TestEnv::ScopedWorkDir>();
        QVERIFY(m_workDir->isValid());
        VGlobalConfig* config = VGlobalConfig::instance();
        config->setValue(QStringLiteral("ServerType"), QStringLiteral("1000"));
        config->setValue(QStringLiteral("sdkinit"), m_server.baseUrl() + QLatin1String("sdkinit"));
        config->setValue(QStringLiteral("roomServer"), QString());
        m_server.clearTargets();
        m_server.setHandler([this](const QString& target) {
            if (target.startsWith(QLatin1String(kSdkInitPath)))
                return ScriptedHttpServer::Reply{200, sdkInitReply(m_server.baseUrl()), false, 0};
            return ScriptedHttpServer::Reply{200, QByteArray("{\"code\":3001,\"msg\":\"账号或密码错误\"}"),
                                             false, 0};
        });
    }

    void cleanup()
    {
        m_window.reset();
        MuSettings::destroy();
        m_workDir.reset();
    }

    void formAsLaidOut()
    {
        createWindow();
        MuVozedIvazerida& w = *m_window;
        QCOMPARE(w.windowTitle(), QStringLiteral("Tavio语音房电脑助手"));
        QCOMPARE(w.size(), QSize(380, 332));
        QCOMPARE(int(w.windowFlags() & ~Qt::WindowType_Mask), 0xC800);
        QVERIFY(w.testAttribute(Qt::WA_TranslucentBackground));

        const struct
        {
            const char* name;
            QRect geometry;
        } expected[] = {
            {"widget_VozedIvazerida", {0, 0, 380, 332}}, {"label_logo", {121, 32, 52, 52}},
            {"label_appname1", {185, 38, 75, 24}},       {"label_appname2", {185, 67, 75, 12}},
            {"lineEdit_userid", {40, 112, 300, 48}},     {"lineEdit_password", {40, 172, 300, 48}},
            {"pushButton_login", {40, 252, 300, 48}},    {"pushButton_min", {320, 12, 20, 20}},
            {"pushButton_close", {348, 12, 20, 20}},
        };
        for (const auto& e : expected) {
            auto* child = w.findChild<QWidget*>(QLatin1String(e.name));
            QVERIFY2(child, e.name);
            QCOMPARE(child->geometry(), e.geometry);
        }
        QCOMPARE(w.findChild<QLabel*>(QStringLiteral("label_appname2"))->text(),
                 QStringLiteral("很高兴遇见你"));
        QVERIFY(w.findChild<QLabel*>(QStringLiteral("label_logo"))->text().isEmpty());
        QCOMPARE(userIdEdit()->placeholderText(), QStringLiteral("输入用户ID"));
        QCOMPARE(passwordEdit()->placeholderText(), QStringLiteral("输入密码"));
        QCOMPARE(passwordEdit()->echoMode(), QLineEdit::Password);
        QCOMPARE(userIdEdit()->alignment(), Qt::AlignCenter);
        QCOMPARE(passwordEdit()->alignment(), Qt::AlignCenter);
        QCOMPARE(loginButton()->text(), QStringLiteral("登录"));
        QVERIFY(loginButton()->isDefault());
        QCOMPARE(w.findChild<QPushButton*>(QStringLiteral("pushButton_min"))->focusPolicy(), Qt::ClickFocus);
        QCOMPARE(w.findChild<QPushButton*>(QStringLiteral("pushButton_close"))->focusPolicy(),
                 Qt::ClickFocus);
        QVERIFY(w.styleSheet().contains(QLatin1String("border-image: url(:/BG.png)")));

        // The pictures of the style sheet are compiled in and reachable.
        for (const char* picture :
             {":/BG.png", ":/tavio_ziti.png", ":/yyzslogo384.png", ":/ic_guanbi.png", ":/ic_zuixiaohua.png"})
            QVERIFY2(QFile::exists(QLatin1String(picture)), picture);
    }

    void rememberedCredentialsShown()
    {
        {
            QSettings ini(QStringLiteral("MuVozedIvazerida.ini"), QSettings::IniFormat);
            ini.setValue(QStringLiteral("userid"), QStringLiteral("10001"));
            ini.setValue(QStringLiteral("password"),
                         MuVozedIvazerida::scrambleText(QStringLiteral("密码123"), false));
        }
        createWindow();
        QCOMPARE(userIdEdit()->text(), QStringLiteral("10001"));
        QCOMPARE(passwordEdit()->text(), QStringLiteral("密码123"));
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
        QTest::newRow("empty password") << "10001"
                                        << ""
                                        << "用户密码不正确"
                                        << "10001"
                                        << "";
    }

    void fieldChecks()
    {
        QFETCH(QString, userId);
        QFETCH(QString, password);
        QFETCH(QString, toast);
        QFETCH(QString, cleanUserId);
        QFETCH(QString, cleanPassword);
        createWindow();
        userIdEdit()->setText(userId);
        passwordEdit()->setText(password);
        QTest::mouseClick(loginButton(), Qt::LeftButton);
        QVERIFY(toastBox()->isVisible());
        QCOMPARE(toastBox()->text(), toast);
        QCOMPARE(userIdEdit()->text(), cleanUserId);
        QCOMPARE(passwordEdit()->text(), cleanPassword);
        QVERIFY(m_server.targets().isEmpty());
        QVERIFY(loginButton()->isEnabled());
        QCOMPARE(loginButton()->text(), QStringLiteral("登录"));
    }

    void spacesRemovedBeforeSending()
    {
        createWindow();
        userIdEdit()->setText(QStringLiteral(" 100 01 "));
        passwordEdit()->setText(QStringLiteral("12 34 56"));
        QTest::mouseClick(loginButton(), Qt::LeftButton);
        QCOMPARE(userIdEdit()->text(), QStringLiteral("10001"));
        QCOMPARE(passwordEdit()->text(), QStringLiteral("123456"));
        QCOMPARE(m_server.countPath(QLatin1String(kLoginPath)), 1);
        const QString login = m_server.targets().last();
        QVERIFY2(login.contains(QLatin1String("phoneNumber=10001")), qPrintable(login));
        QVERIFY2(login.contains(QLatin1String("password=") + MuSettings::md5Hex(QStringLiteral("123456"))),
                 qPrintable(login));
    }

    void enterInPasswordFieldLogsIn()
    {
        createWindow();
        userIdEdit()->setText(QStringLiteral("10001"));
        passwordEdit()->setText(QStringLiteral("bad"));

        QTest::keyClick(userIdEdit(), Qt::Key_Return);
        QTest::keyClick(userIdEdit(), Qt::Key_Enter);
        QVERIFY(m_server.targets().isEmpty());
        QVERIFY(!toastBox()->isVisible());

        QTest::keyClick(passwordEdit(), Qt::Key_Return);
        QCOMPARE(m_server.countPath(QLatin1String(kSdkInitPath)), 1);
        QCOMPARE(m_server.countPath(QLatin1String(kLoginPath)), 1);
        QCOMPARE(toastBox()->text(), QStringLiteral("账号或密码错误"));
    }

    void configurationRequestIsSigned()
    {
        VGlobalConfig::instance()->setValue(QStringLiteral("deviceId"), QStringLiteral("AA:BB:CC:DD:EE:FF"));
        createWindow();
        userIdEdit()->setText(QStringLiteral("10001"));
        passwordEdit()->setText(QStringLiteral("bad"));
        QTest::mouseClick(loginButton(), Qt::LeftButton);
        QCOMPARE(m_server.countPath(QLatin1String(kSdkInitPath)), 1);
        const QString target = m_server.targets().first();
        const QUrlQuery query(QUrl(target).query());
        const QStringList keys = {"appId",      "bigVersion", "version", "deviceId",
                                  "deviceType", "product",    "sign"};
        QStringList sent;
        for (const auto& item : query.queryItems())
            sent << item.first;
        QCOMPARE(sent, keys);
        QCOMPARE(query.queryItemValue(QStringLiteral("appId")), QStringLiteral("PC002"));
        QCOMPARE(query.queryItemValue(QStringLiteral("deviceId")), QStringLiteral("AA:BB:CC:DD:EE:FF"));
        QCOMPARE(query.queryItemValue(QStringLiteral("deviceType")), QStringLiteral("4"));
        QCOMPARE(query.queryItemValue(QStringLiteral("product")), QStringLiteral("pc_push"));
        QCOMPARE(query.queryItemValue(QStringLiteral("sign")).size(), 32);
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
            << 200 << QByteArray("{\"code\":1,\"data\":{\"logServer\":\"x\"}}") << false << "服务为空";
        QTest::newRow("roomServer of the wrong type")
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
        m_server.setHandler([status, body](const QString&) {
            return ScriptedHttpServer::Reply{status, body, false, 0};
        });
        createWindow();
        m_window->show();
        userIdEdit()->setText(QStringLiteral("10001"));
        passwordEdit()->setText(QStringLiteral("123456"));
        QTest::mouseClick(loginButton(), Qt::LeftButton);

        QCOMPARE(toastBox()->text(), toast);
        QVERIFY(toastBox()->isVisible());
        QCOMPARE(loginButton()->text(), QStringLiteral("登录"));
        QVERIFY(loginButton()->isEnabled());
        QCOMPARE(m_server.countPath(QLatin1String(kLoginPath)), 0);
        QVERIFY(m_window->isVisible());
        QVERIFY(!m_window->voicePanel()->isVisible());
        QVERIFY(!QFile::exists(QStringLiteral("MuVozedIvazerida.ini")));
    }

    // A service that never answers: the blocking request gives up after its 10 s, and a second
    // attempt (Enter in the password field) cannot start while the first one waits.
    void slowConfigurationServiceAndNoSecondAttempt()
    {
        m_server.setHandler([](const QString&) {
            return ScriptedHttpServer::Reply{200, QByteArray(), true, 0};
        });
        createWindow();
        userIdEdit()->setText(QStringLiteral("10001"));
        passwordEdit()->setText(QStringLiteral("123456"));

        bool busySeen = false;
        QTimer::singleShot(500, this, [this, &busySeen]() {
            busySeen = !loginButton()->isEnabled() && loginButton()->text() == QStringLiteral("登录中...");
            QTest::keyClick(passwordEdit(), Qt::Key_Return);
            QTest::mouseClick(loginButton(), Qt::LeftButton);
        });
        QTest::mouseClick(loginButton(), Qt::LeftButton);

        QVERIFY(busySeen);
        QCOMPARE(m_server.countPath(QLatin1String(kSdkInitPath)), 1);
        QCOMPARE(toastBox()->text(), QStringLiteral("初始化为空"));
        QCOMPARE(loginButton()->text(), QStringLiteral("登录"));
        QVERIFY(loginButton()->isEnabled());
        QCOMPARE(m_server.countPath(QLatin1String(kLoginPath)), 0);
    }

    void loginRefusals_data()
    {
        QTest::addColumn<QByteArray>("loginReply");
        QTest::addColumn<bool>("loginServiceDown");
        QTest::addColumn<QString>("toast");
        QTest::newRow("refused with a message")
            << QByteArray("{\"code\":3001,\"msg\":\"账号不存在\"}") << false << "账号不存在";
        QTest::newRow("refused without a message")
            << QByteArray("{\"code\":3001,\"msg\":\"\"}") << false << "用户ID密码不正确";
        QTest::newRow("success code without a user id")
            << QByteArray("{\"code\":1,\"data\":{}}") << false << "用户ID密码不正确";
        QTest::newRow("nonsense") << QByteArray("not json at all") << false << "用户ID密码不正确";
        QTest::newRow("service down") << QByteArray() << true << "网络异常";
    }

    void loginRefusals()
    {
        QFETCH(QByteArray, loginReply);
        QFETCH(bool, loginServiceDown);
        QFETCH(QString, toast);
        const QString roomServer = loginServiceDown ? refusedBaseUrl() : m_server.baseUrl();
        m_server.setHandler([roomServer, loginReply](const QString& target) {
            if (target.startsWith(QLatin1String(kSdkInitPath)))
                return ScriptedHttpServer::Reply{200, sdkInitReply(roomServer), false, 0};
            return ScriptedHttpServer::Reply{200, loginReply, false, 0};
        });
        {
            QSettings ini(QStringLiteral("MuVozedIvazerida.ini"), QSettings::IniFormat);
            ini.setValue(QStringLiteral("userid"), QStringLiteral("777"));
            ini.setValue(QStringLiteral("password"),
                         MuVozedIvazerida::scrambleText(QStringLiteral("old"), false));
        }
        const QByteArray iniBefore = readFile(QStringLiteral("MuVozedIvazerida.ini"));

        createWindow();
        userIdEdit()->setText(QStringLiteral("10001"));
        passwordEdit()->setText(QStringLiteral("123456"));
        QTest::mouseClick(loginButton(), Qt::LeftButton);

        QCOMPARE(toastBox()->text(), toast);
        QCOMPARE(loginButton()->text(), QStringLiteral("登录"));
        QVERIFY(loginButton()->isEnabled());
        QVERIFY(!m_window->voicePanel()->isVisible());
        QVERIFY(MuSettings::instance()->accountUserIdText().isEmpty());

        // The settings store writes its files when it goes away: nothing was changed.
        m_window.reset();
        MuSettings::destroy();
        QCOMPARE(readFile(QStringLiteral("MuVozedIvazerida.ini")), iniBefore);
    }

    void closeButtonSavesCredentials()
    {
        createWindow();
        m_window->show();
        userIdEdit()->setText(QStringLiteral("20002"));
        passwordEdit()->setText(QStringLiteral("秘密 pass"));
        QTest::mouseClick(m_window->findChild<QPushButton*>(QStringLiteral("pushButton_close")),
                          Qt::LeftButton);
        QVERIFY(!m_window->isVisible());

        m_window.reset();
        MuSettings::destroy();
        QSettings ini(QStringLiteral("MuVozedIvazerida.ini"), QSettings::IniFormat);
        QCOMPARE(ini.value(QStringLiteral("userid")).toString(), QStringLiteral("20002"));
        const QString stored = ini.value(QStringLiteral("password")).toString();
        QVERIFY(stored != QStringLiteral("秘密 pass"));
        QCOMPARE(MuVozedIvazerida::scrambleText(stored, true), QStringLiteral("秘密 pass"));

        // The next start shows them again.
        createWindow();
        QCOMPARE(userIdEdit()->text(), QStringLiteral("20002"));
        QCOMPARE(passwordEdit()->text(), QStringLiteral("秘密 pass"));
    }

    void windowCloseSavesCredentials()
    {
        createWindow();
        m_window->show();
        userIdEdit()->setText(QStringLiteral("30003"));
        passwordEdit()->setText(QStringLiteral("abc"));
        QVERIFY(m_window->close());
        QVERIFY(!m_window->isVisible());
        m_window.reset();
        MuSettings::destroy();
        QSettings ini(QStringLiteral("MuVozedIvazerida.ini"), QSettings::IniFormat);
        QCOMPARE(ini.value(QStringLiteral("userid")).toString(), QStringLiteral("30003"));
        QCOMPARE(MuVozedIvazerida::scrambleText(ini.value(QStringLiteral("password")).toString(), true),
                 QStringLiteral("abc"));
    }

    // Closed while the configuration request waits: the late answer must not bring up the panel.
    void closedWhileLoggingIn()
    {
        m_server.setHandler([this](const QString& target) {
            if (target.startsWith(QLatin1String(kSdkInitPath)))
                return ScriptedHttpServer::Reply{200, sdkInitReply(m_server.baseUrl()), false, 1000};
            return ScriptedHttpServer::Reply{200, QByteArray("{\"code\":1,\"data\":{\"userId\":\"5\"}}"),
                                             false, 0};
        });
        createWindow();
        m_window->show();
        userIdEdit()->setText(QStringLiteral("10001"));
        passwordEdit()->setText(QStringLiteral("123456"));
        QTimer::singleShot(200, m_window.get(), [this]() { m_window->close(); });
        QTest::mouseClick(loginButton(), Qt::LeftButton);
        QVERIFY(!m_window->isVisible());
        QVERIFY(!m_window->voicePanel()->isVisible());
        QCOMPARE(m_server.countPath(QLatin1String(kSdkInitPath)), 1);
        QCOMPARE(m_server.countPath(QLatin1String(kLoginPath)), 0);

        // Once closed, no further attempt starts.
        QTest::keyClick(passwordEdit(), Qt::Key_Return);
        QCOMPARE(m_server.countPath(QLatin1String(kSdkInitPath)), 1);
    }

    void dragging()
    {
        createWindow();
        m_window->move(100, 100);
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
        const QPoint start = m_window->frameGeometry().topLeft();
        sendMouse(QEvent::MouseButtonPress, QPoint(10, 300), Qt::LeftButton, Qt::LeftButton);
        sendMouse(QEvent::MouseMove, QPoint(40, 320), Qt::NoButton, Qt::LeftButton);
        QCOMPARE(m_window->frameGeometry().topLeft(), start + QPoint(30, 20));
        sendMouse(QEvent::MouseButtonRelease, QPoint(40, 320), Qt::LeftButton, Qt::NoButton);
        const QPoint afterRelease = m_window->frameGeometry().topLeft();
        sendMouse(QEvent::MouseMove, QPoint(90, 330), Qt::NoButton, Qt::LeftButton);
        QCOMPARE(m_window->frameGeometry().topLeft(), afterRelease);
        // A right-button press does not start a drag.
        sendMouse(QEvent::MouseButtonPress, QPoint(10, 300), Qt::RightButton, Qt::RightButton);
        sendMouse(QEvent::MouseMove, QPoint(60, 300), Qt::NoButton, Qt::RightButton);
        QCOMPARE(m_window->frameGeometry().topLeft(), afterRelease);
    }

    // The demo account of the local services program: the panel takes the window's place and
    // the credentials are remembered; a wrong password shows the service's message.
    void loginAgainstLocalServices()
    {
        if (!LocalServices::isBuilt())
            QSKIP("the local services program is not part of this build");
        LocalServices services;
        QVERIFY(!services.baseUrl().isEmpty());
        VGlobalConfig::instance()->setValue(QStringLiteral("sdkinit"), services.baseUrl() + "sdkinit");

        createWindow();
        m_window->move(150, 120);
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
        const QPoint place = m_window->frameGeometry().topLeft();

        userIdEdit()->setText(QStringLiteral("10001"));
        passwordEdit()->setText(QStringLiteral("wrong"));
        QTest::mouseClick(loginButton(), Qt::LeftButton);
        QVERIFY(toastBox()->isVisible());
        QVERIFY(!toastBox()->text().isEmpty());
        QVERIFY(toastBox()->text() != QStringLiteral("网络异常"));
        QVERIFY(m_window->isVisible());
        QVERIFY(!m_window->voicePanel()->isVisible());
        QCOMPARE(VGlobalConfig::instance()->value(QStringLiteral("roomServer")), services.baseUrl());

        passwordEdit()->setText(QStringLiteral("123456"));
        QTest::mouseClick(loginButton(), Qt::LeftButton);
        MuVoicePanel* panel = m_window->voicePanel();
        QVERIFY(panel->isVisible());
        QVERIFY(!m_window->isVisible());
        QCOMPARE(panel->frameGeometry().topLeft(), place);
        QCOMPARE(panel->pushState(), 1);
        QCOMPARE(loginButton()->text(), QStringLiteral("登录"));
        QVERIFY(loginButton()->isEnabled());
        QVERIFY(!MuSettings::instance()->accountUserIdText().isEmpty());

        // Leave the panel before the services go away (it tells them the user is not live).
        panel->close();
        QVERIFY(m_window->isVisible());
        m_window.reset();
        MuSettings::destroy();
        QSettings ini(QStringLiteral("MuVozedIvazerida.ini"), QSettings::IniFormat);
        QCOMPARE(ini.value(QStringLiteral("userid")).toString(), QStringLiteral("10001"));
        QCOMPARE(MuVozedIvazerida::scrambleText(ini.value(QStringLiteral("password")).toString(), true),
                 QStringLiteral("123456"));
    }

private:
    void createWindow() { m_window = std::make_unique<MuVozedIvazerida>(); }
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
    MuMsgbox* toastBox() const { return m_window->findChild<MuMsgbox*>(); }

    // Sent to the background picture, which leaves mouse presses to the window under it.
    void sendMouse(QEvent::Type type, const QPoint& local, Qt::MouseButton button, Qt::MouseButtons buttons)
    {
        QWidget* background = m_window->findChild<QWidget*>(QStringLiteral("widget_VozedIvazerida"));
        const QPoint global = m_window->mapToGlobal(local);
        QMouseEvent event(type, background->mapFromGlobal(global), global, button, buttons, Qt::NoModifier);
        QApplication::sendEvent(background, &event);
    }

    static QByteArray readFile(const QString& path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    ScriptedHttpServer m_server;
    std::unique_ptr<TestEnv::ScopedWorkDir> m_workDir;
    std::unique_ptr<MuVozedIvazerida> m_window;
};

QTEST_MAIN(TestMuVozedIvazerida)
#include "tst_MuVozedIvazerida.moc"
