// The standing fault suite, a row per scenario: the real program's files and signals; its windows with
// the services (and the peers when started) failing at login and while live. No crash, files kept or
// rightly rewritten, the service told the truth, the user shown a correct text.

#include "localservices/LocalServicesProcess.h"
#include "support/LogCapture.h"
#include "support/SessionDriver.h"
#include "support/TestEnv.h"

#include "app/AppLifetime.h"
#include "base/LogHandler.h"
#include "base/MuSettings.h"
#include "base/PlainIniFormat.h"
#include "base/ScrambleText.h"
#include "config/VGlobalConfig.h"
#include "service/MuServer.h"
#include "support/ScriptedRtcBackend.h"
#include "ui/MuVoicePanel.h"
#include "ui/MuVozedIvazerida.h"

#include <QtNetwork>
#include <QtTest>
#include <QtWidgets>

#include <csignal>
#include <cstdio>

using agora::rtc::ScriptedRtcBackend;

namespace {

const QString kUser = QStringLiteral("10001"), kPassword = QStringLiteral("123456");
const QString kWrongLogin = QStringLiteral("用户ID密码不正确"), kNetwork = QStringLiteral("网络异常");
const QByteArray kHugeList = "@Variant(\\0\\0\\0\\x31\\x7f\\xff\\xff\\xff)";

// The main settings file as the program writes it for these credentials.
QByteArray mainIni(const QString& user, const QString& password)
{
    const QString stored = user.isEmpty() ? QString() : scrambleText(password, false);
    return "[General]\npassword=" + PlainIniFormat::encodeValue(stored) +
           "\nuserid=" + PlainIniFormat::encodeValue(user) + "\n";
}

bool realPeers()
{
    return !TestEnv::peer("PULSE_SERVER").isEmpty() && !TestEnv::peer("TAVIO_RTMP_URL_BASE").isEmpty();
}

quint16 closedPort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost) ? probe.serverPort() : 0;
}

} // namespace

class tst_FaultSuite : public QObject
{
    Q_OBJECT

    int m_scenarios = 0, m_failures = 0;

private slots:
    void initTestCase()
    {
        if (!realPeers() && TestEnv::peersRequired())
            QFAIL("PulseAudio and the RTMP server are required but not running");
        ScriptedRtcBackend::setEnabled(!realPeers()); // without the peers, the scripted RTC layer
        m_log = std::make_unique<LogCapture>();
    }

    void init()
    {
        m_dir = std::make_unique<TestEnv::ScopedWorkDir>();
        ScriptedRtcBackend::reset();
        LogCapture::clear();
    }

    void cleanup()
    {
        ++m_scenarios;
        m_failures += QTest::currentTestFailed() ? 1 : 0;
        m_user.reset();
        MuSettings::destroyInstance();
        m_services.reset();
        m_dir.reset();
    }

    void cleanupTestCase()
    {
        char summary[100]; // also beside the build, where the test command adds up the groups' lines
        std::snprintf(summary, sizeof summary, "fault scenarios: %d run, %d failed (%s RTC layer)\n",
                      m_scenarios, m_failures, realPeers() ? "real" : "scripted");
        std::fputs(summary, stdout);
        QFile file(QStringLiteral(TAVIO_BINARY_DIR "/faults-summary.txt"));
        if (file.open(QIODevice::WriteOnly | QIODevice::Append))
            file.write(summary);
    }

    // ---- The real program on broken files, ended by a signal (a session ending, Ctrl-C, a terminal closed).
    void startupFiles_data()
    {
        QTest::addColumn<QByteArray>("main");   // null: absent
        QTest::addColumn<QByteArray>("temp");   // null: absent
        QTest::addColumn<QByteArray>("config"); // null: absent; "<folder>": Config is a file
        QTest::addColumn<QByteArray>("mainAfter");
        QTest::addColumn<QString>("logged"); // a fragment the log (or standard error) must hold
        QTest::addColumn<int>("signal");

        const QByteArray none;
        const QByteArray fresh = mainIni(QString(), QString());
        const QByteArray remembered = mainIni(kUser, kPassword);
        const QByteArray usable = "{\"ServerType\":\"1000\",\"sdkinit\":\"http://127.0.0.1:1/sdkinit\"}";
        const QByteArray hugeIni =
            QByteArray("; a comment line of a huge file\n").repeated(20000) + remembered;
        const QByteArray hugeConfig =
            "{\"ServerType\":\"1000\",\"pad\":\"" + QByteArray(5 << 20, 'x') + "\"}";
        QByteArray garbage;
        for (int i = 0; i < 4096; ++i)
            garbage += char((i * 37) % 251 == '=' || (i * 37) % 251 == '[' ? 1 : (i * 37) % 251);

        // clang-format off
        QTest::newRow("no files at all") << none << none << none << fresh << "main start" << int(SIGTERM);
        QTest::newRow("settings kept byte for byte") << remembered << none << usable << remembered << "version" << int(SIGTERM);
        QTest::newRow("settings file empty") << QByteArray("") << none << usable << fresh << "version" << int(SIGTERM);
        QTest::newRow("settings file binary") << garbage << none << usable << fresh << "version" << int(SIGTERM);
        QTest::newRow("settings file huge") << hugeIni << none << usable << remembered << "version" << int(SIGTERM);
        QTest::newRow("password a crafted variant") << QByteArray("[General]\npassword=" + kHugeList + "\nuserid=10001\n") << none << usable << mainIni(kUser, QString()) << "damaged value" << int(SIGTERM);
        QTest::newRow("user id an escaped variant") << QByteArray("[General]\npassword=x\nuserid=\\x40Variant(\\0\\0\\0\\x31\\x7f\\xff\\xff\\xff)\n") << none << usable << fresh << "damaged value" << int(SIGTERM);
        QTest::newRow("volume file a crafted variant") << remembered << QByteArray("[10001]\nvolume=" + kHugeList + "\n") << usable << remembered << "version" << int(SIGTERM);
        QTest::newRow("configuration empty") << remembered << none << QByteArray("") << remembered << "not JSON" << int(SIGTERM);
        QTest::newRow("configuration broken") << remembered << none << QByteArray("{\"ServerType\":") << remembered << "not JSON" << int(SIGTERM);
        QTest::newRow("configuration huge") << remembered << none << hugeConfig << remembered << "version" << int(SIGTERM);
        QTest::newRow("server type a number") << remembered << none << QByteArray("{\"ServerType\":1000}") << remembered << "is not a string: ServerType number" << int(SIGTERM);
        QTest::newRow("configuration of wrong types") << remembered << none << QByteArray("{\"sdkinit\":[\"x\"],\"pcmDump\":{}}") << remembered << "is not a string: sdkinit array" << int(SIGTERM);
        QTest::newRow("Config is a file") << remembered << none << QByteArray("<folder>") << remembered << "open failed" << int(SIGTERM);
        QTest::newRow("log is a file") << remembered << none << usable << remembered << "going on without a log" << int(SIGTERM);
        QTest::newRow("today's log is a folder") << remembered << none << usable << remembered << "going on without a log" << int(SIGTERM);
        QTest::newRow("Ctrl-C") << none << none << none << fresh << "main termination signal" << int(SIGINT);
        QTest::newRow("terminal closed") << none << none << none << fresh << "main termination signal" << int(SIGHUP);
        // clang-format on
    }

    void startupFiles()
    {
        QFETCH(QByteArray, main);
        QFETCH(QByteArray, temp);
        QFETCH(QByteArray, config);
        QFETCH(QByteArray, mainAfter);
        QFETCH(QString, logged);
        QFETCH(int, signal);
        if (!main.isNull())
            TestEnv::writeFile("MuVozedIvazerida.ini", main);
        if (!temp.isNull())
            TestEnv::writeFile("MuVozedIvazeridaTemp.ini", temp);
        if (!config.isNull())
            TestEnv::writeFile(config == "<folder>" ? "Config" : "Config/GlobalConfig.json", config);
        const QString todaysLog = LogHandler::fileNameFor(QDateTime::currentDateTime());
        const bool logFile = QTest::currentDataTag() == QByteArray("log is a file");
        const bool logBroken = logFile || QTest::currentDataTag() == QByteArray("today's log is a folder");
        const QString blocker = logFile ? QStringLiteral("log") : todaysLog;
        if (logBroken && !(logFile ? TestEnv::writeFile(blocker, "not a folder") : QDir().mkpath(blocker)))
            QFAIL("cannot block the log");

        QProcess program;
        program.start(QStringLiteral(TAVIO_APP_PATH), QStringList());
        QVERIFY(program.waitForStarted(30000));
        QByteArray err;
        // Up and idle: the login window's first line is logged, or (without a log) the folders exist.
        QTRY_VERIFY_WITH_TIMEOUT((err += program.readAllStandardError(),
                                  logBroken ? QFile::exists("res/logo") && err.contains("without a log")
                                            : TestEnv::readText(todaysLog).contains("version")),
                                 60000);
        QTest::qWait(300);
        ::kill(pid_t(program.processId()), signal);
        QVERIFY(program.waitForFinished(60000));
        err += program.readAllStandardError();
        QCOMPARE(program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -1, 0); // -1: crashed
        QVERIFY(!QDir("crash").exists());
        const QString seen = logBroken ? QString::fromLocal8Bit(err) : TestEnv::readText(todaysLog);
        QVERIFY2(seen.contains(logged), qPrintable(seen.right(2000)));
        const QByteArray place = QDir::current().absoluteFilePath(blocker).toLocal8Bit(); // said once
        QVERIFY2(!logBroken || (err.count("log: cannot write") == 1 && err.contains(place)), err.constData());
        QCOMPARE(TestEnv::readBytes("MuVozedIvazerida.ini"), mainAfter);
        if (!temp.isNull())
            QCOMPARE(TestEnv::readBytes("MuVozedIvazeridaTemp.ini"), temp);
    }

    // ---- The configuration and push-stream services failing at login.
    void loginFaults_data()
    {
        QTest::addColumn<QString>("fault"); // the request that suffers, its fault ("down": nothing listens)
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("toast"); // empty: logged in; "*": the service's own refusal

        const QByteArray huge = QByteArray(100 * 1024, 'm');
        const QByteArray bigReply = "{\"code\":1,\"msg\":\"" + QByteArray(5 << 20, 'p') + "\",\"data\":{}}";
        const QByteArray none;
        // clang-format off
        QTest::newRow("configuration down") << "sdkinit down" << none << "初始化为空";
        QTest::newRow("configuration 500") << "sdkinit error500" << none << "初始化为空";
        QTest::newRow("configuration garbage") << "sdkinit garbage" << none << "服务为空";
        QTest::newRow("configuration of wrong types") << "sdkinit reply" << QByteArray("{\"code\":1,\"data\":{\"roomServer\":7}}") << "服务为空";
        QTest::newRow("configuration reply 5 MB") << "sdkinit reply" << bigReply << "服务为空";
        QTest::newRow("push service down") << "login down" << none << kNetwork;
        QTest::newRow("login 500") << "login error500" << none << kWrongLogin;
        QTest::newRow("login garbage") << "login garbage" << none << kWrongLogin;
        QTest::newRow("login slow") << "login slow" << none << QString();
        QTest::newRow("login wrong password") << "wrong password" << none << "*";
        QTest::newRow("success without data") << "login reply" << QByteArray("{\"code\":1,\"msg\":\"success\"}") << kWrongLogin;
        QTest::newRow("code of wrong type") << "login reply" << QByteArray("{\"code\":\"1\",\"msg\":\"success\",\"data\":{}}") << kWrongLogin;
        QTest::newRow("markup message") << "login reply" << QByteArray("{\"code\":2001,\"msg\":\"<img src=\\\"file:///etc/x.png\\\">\"}") << "<img src=\"file:///etc/x.png\">";
        QTest::newRow("bidi message") << "login reply" << QByteArray("{\"code\":2001,\"msg\":\"\\u202eEVIL\\n!\"}") << "EVIL !";
        QTest::newRow("100 KB message") << "login reply" << QByteArray("{\"code\":2001,\"msg\":\"" + huge + "\"}") << QString::fromLatin1(huge);
        // clang-format on
    }

    void loginFaults()
    {
        QFETCH(QString, fault);
        QFETCH(QByteArray, body);
        QFETCH(QString, toast);
        startServices();
        const QString closed = QStringLiteral("http://127.0.0.1:%1/").arg(closedPort());
        const QString password = fault == "wrong password" ? "654321" : kPassword;
        if (fault == "sdkinit down")
            VGlobalConfig::instance()->setValue("sdkinit", closed + "sdkinit");
        else if (fault == "login down")
            setFault("reply", "sdkinit",
                     "{\"code\":1,\"data\":{\"roomServer\":\"" + closed.toUtf8() + "\"}}");
        else if (password == kPassword)
            setFault(fault.section(' ', 1), fault.section(' ', 0, 0), body);
        m_user = std::make_unique<SessionDriver>();
        m_user->attemptLogin(kUser, password);

        QVERIFY(LogCapture::lines().join(QString()).toUtf8().size() < 40000); // outside texts cut at 2 KB
        noSecretsLogged(password);
        QCOMPARE(panel()->isVisible(), toast.isEmpty());
        QCOMPARE(m_user->window()->isVisible(), !toast.isEmpty());
        const QString shown = m_user->toast();
        QVERIFY2(toast == "*" ? !shown.isEmpty() && !shown.contains("success") : shown == toast,
                 qPrintable(shown));
        if (toast.isEmpty())
            m_user.reset(); // writes the files; a failed login saves nothing
        QCOMPARE(TestEnv::readBytes("MuVozedIvazerida.ini"),
                 toast.isEmpty() ? mainIni(kUser, kPassword) : "");
    }

    // ---- The service and the peers failing while live; signals while live (the windows close, so the
    // service hears the push end); clicks faster than the service answers; twenty sessions in a row.
    void liveFaults_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("state");       // the panel's state afterwards (0: back at login)
        QTest::addColumn<QString>("message"); // first line of the panel's message box, empty: none
        QTest::addColumn<bool>("live");       // what the service believes afterwards

        QTest::newRow("heartbeat 500") << "heartbeat error500" << 3 << QString() << true;
        QTest::newRow("heartbeat garbage") << "heartbeat garbage" << 3 << QString() << true;
        QTest::newRow("heartbeat slow") << "heartbeat slow" << 3 << QString() << true;
        QTest::newRow("heartbeat of wrong types") << "heartbeat reply" << 3 << QString() << true;
        QTest::newRow("service unreachable for 60 s")
            << "heartbeat down" << 0 << "网络异常，请重新登录" << true;
        QTest::newRow("session ended elsewhere")
            << "phone end code=3190" << 0 << "您的账号已在其他设备登录" << false;
        QTest::newRow("microphone banned") << "phone ban banned=1" << 3 << QString() << true;
        QTest::newRow("off the microphone") << "phone mic on=0" << 2 << "小助手停止了推流" << false;
        QTest::newRow("left the room") << "phone room roomId=" << 1 << "小助手停止了推流" << false;
        QTest::newRow("push start 500") << "start error500" << 2 << kNetwork << false;
        QTest::newRow("push start garbage") << "start garbage" << 2 << kNetwork << false;
        QTest::newRow("push start refused") << "start refused" << 2 << "*" << false;
        QTest::newRow("RTMP server unreachable") << "rtmp closed" << 2 << "推流失败" << false;
        QTest::newRow("RTMP host unknown") << "rtmp unknown" << 2 << "推流失败" << false;
        QTest::newRow("push address not RTMP") << "address http://x" << 2 << "推流失败" << false;
        QTest::newRow("push address without host") << "address rtmp://" << 2 << "推流失败" << false;
        QTest::newRow("push address of 10 KB")
            << "address rtmp://127.0.0.1/live/" + QString(10000, 'x') << 2 << "推流失败" << false;
        QTest::newRow("panel closed while live") << "close" << 0 << QString() << false;
        QTest::newRow("push stopped while live") << "stop" << 2 << QString() << false;
        QTest::newRow("SIGHUP while live") << "signal 1" << -1 << QString() << false;
        QTest::newRow("SIGTERM while live") << "signal 15" << -1 << QString() << false;
        QTest::newRow("SIGINT while live") << "signal 2" << -1 << QString() << false;
        QTest::newRow("200 rapid clicks") << "clicks" << -1 << QString() << false;
        QTest::newRow("20 login cycles") << "cycles" << 0 << QString() << false;
    }

    void liveFaults()
    {
        QFETCH(QString, fault);
        QFETCH(int, state);
        QFETCH(QString, message);
        QFETCH(bool, live);
        const QString kind = fault.section(' ', 0, 0), detail = fault.section(' ', 1);
        startServices(kind == "rtmp" ? closedPort() : 0, detail == "unknown" ? "no-such-host.invalid" : "");
        m_user = std::make_unique<SessionDriver>();
        if (kind == "cycles")
            return loginCycles();
        m_user->attemptLogin(kUser, kPassword);
        QVERIFY(panel()->isVisible());
        m_user->takeOverHeartbeat();
        if (kind == "clicks")
            return rapidClicks();
        m_user->press("pushButton_push");
        QCOMPARE(panel()->pushState(), int(PanelStateStartPush));
        if (detail == "refused")
            m_services->admin("mic", {{"userId", kUser}, {"on", "0"}});
        else if (kind == "start")
            setFault(detail, "changeLiveStatus");
        else if (kind == "address")
            m_services->admin("stream", {{"userId", kUser}, {"url", detail}});
        QElapsedTimer clicked;
        clicked.start();
        m_user->press("pushButton_push");
        if (kind == "address")
            std::printf("%s: failure shown %lld ms after the click\n", QTest::currentDataTag(), clicked.elapsed());
        QCOMPARE(panel()->pushState() == PanelStatePushing && serviceLive(),
                 kind != "start" && kind != "address"); // live, or not started

        if (kind == "signal")
            return signalWhileLive(detail.toInt());
        if (detail == "down")
            MuServer::instance()->setServer(QStringLiteral("http://127.0.0.1:%1/").arg(closedPort()), "1000");
        else if (kind == "heartbeat")
            setFault(detail, "checkLiveStatus", "{\"code\":[1],\"msg\":{},\"data\":[]}");
        const QStringList phone = detail.split(QRegularExpression("[ =]")); // the phone side, then a beat
        if (kind == "phone")
            m_services->admin(phone[0], {{"userId", kUser}, {phone.value(1), phone.value(2)}});
        if (kind == "rtmp") { // ten seconds without reaching the server end the push
            QCOMPARE(panel()->findChild<QLabel*>("label_push")->text(), QStringLiteral("正在连接推流服务器…"));
            QTest::qWait(1000);
            m_user->clock().advance(10000);
            SessionDriver::fireTimers(panel()->workflow(), 1000);
        }
        const int beats =
            detail == "down" ? 31 : QMap<QString, int>{{"heartbeat", 3}, {"phone", 1}, {"rtmp", 1}}[kind];
        for (int i = 0; i < beats; ++i) // 62 s of failures give up
            m_user->beat();
        if (kind == "close")
            QVERIFY(panel()->close());
        if (kind == "stop")
            m_user->press("pushButton_push");

        const QString line1 = m_user->boxLine(1), line2 = m_user->boxLine(2);
        const bool boxRight = message == "*"      ? !line1.isEmpty() && line1 != "无法推流"
                              : message.isEmpty() ? !m_user->boxShown()
                                                  : line1 == message || line2 == message;
        QVERIFY2(boxRight, qPrintable(line1 + " / " + line2));
        if (m_user->boxShown())
            m_user->dismissBox();
        QCOMPARE(state == 0 ? 0 : panel()->pushState(), state);
        QCOMPARE(m_user->window()->isVisible(), state == 0);
        QCOMPARE(serviceLive(), live);
        if (detail.startsWith("ban"))
            QCOMPARE(m_user->button("pushButton_mute")->text(), QStringLiteral("禁麦中"));
        noSecretsLogged(QString()); // a short number may stand anywhere in a long log: its MD5 only
        if (!realPeers())
            QCOMPARE(ScriptedRtcBackend::snapshot().joined, state == 3);
    }

private:
    void signalWhileLive(int signal)
    {
        AppLifetime::installTerminationHandlers(*qApp);
        ::raise(signal);
        QTRY_VERIFY_WITH_TIMEOUT(!panel()->isVisible() && !m_user->window()->isVisible(), 20000);
        AppLifetime::removeTerminationHandlers();
        // The handler ended the absent main loop: a run of our own clears that for later nested loops.
        QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        QApplication::exec();
        QVERIFY(!serviceLive());
        m_user.reset();
        QCOMPARE(TestEnv::readBytes("MuVozedIvazerida.ini"), mainIni(kUser, kPassword));
    }

    // Presses landing while a request runs meet a disabled button; the service believes the panel.
    void rapidClicks()
    {
        const auto postClick = [](QWidget* widget) {
            for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease})
                qApp->postEvent(widget,
                                new QMouseEvent(type, QPointF(5, 5), Qt::LeftButton, Qt::LeftButton, {}));
        };
        for (int i = 0; i < 200; ++i) {
            postClick(m_user->button("pushButton_push"));
            if (i % 7 == 0)
                postClick(m_user->button("pushButton_mute"));
        }
        bool drained = false;
        QMetaObject::invokeMethod(
            qApp, [&drained] { drained = true; }, Qt::QueuedConnection);
        QTRY_VERIFY_WITH_TIMEOUT(drained && m_user->button("pushButton_push")->isEnabled(), 120000);
        QTest::qWait(200);
        QVERIFY(panel()->pushState() >= PanelStateStartPush);
        QCOMPARE(serviceLive(), panel()->pushState() == PanelStatePushing);
        const int calls =
            QJsonDocument::fromJson(m_services->request("GET", "admin/calls", {})).array().size();
        qInfo("rapid clicks: %d requests reached the service", calls);
        QVERIFY(calls >= 3); // login, room check and at least one change of the push
        QVERIFY(panel()->close());
        QVERIFY(!serviceLive());
    }

    // Each session ended a different way; every one released its engine.
    void loginCycles()
    {
        for (int i = 0; i < 20; ++i) {
            m_user->attemptLogin(kUser, kPassword);
            QVERIFY2(panel()->isVisible(), qPrintable(QString::number(i)));
            m_user->takeOverHeartbeat();
            m_user->press("pushButton_push");
            m_user->press("pushButton_push");
            QCOMPARE(panel()->pushState(), int(PanelStatePushing));
            if (i % 2 == 0) {
                QVERIFY(panel()->close());
            } else {
                m_services->admin("end", {{"userId", kUser}, {"code", "3191"}});
                m_user->beat();
                m_user->dismissBox();
            }
            QTRY_VERIFY(m_user->window()->isVisible());
            QVERIFY(!serviceLive());
        }
        if (!realPeers())
            QCOMPARE(ScriptedRtcBackend::snapshot().liveEngines, 0);
    }

    // The local services, handing out push addresses of the test's RTMP server (or rtmpPort, rtmpHost).
    void startServices(quint16 rtmpPort = 0, const QString& rtmpHost = QString())
    {
        m_services = std::make_unique<LocalServicesProcess>();
        const int port = rtmpPort ? rtmpPort : QUrl(TestEnv::peer("TAVIO_RTMP_URL_BASE")).port(1935);
        QStringList arguments{"--rtmp-port", QString::number(port)};
        if (!rtmpHost.isEmpty())
            arguments << "--rtmp-host" << rtmpHost;
        QVERIFY(m_services->start(arguments));
        VGlobalConfig::instance()->setValue("ServerType", "1000");
        VGlobalConfig::instance()->setValue("sdkinit", m_services->baseUrl() + "sdkinit");
        VGlobalConfig::instance()->setValue("roomServer", QString()); // what an earlier reply left
    }

    // A slow reply comes after 1.5 s; a given reply with status 200.
    void setFault(const QString& mode, const QString& operation, const QByteArray& body = QByteArray())
    {
        QJsonObject fault{{"mode", mode}, {"operation", operation}, {"delayMs", "1500"}, {"status", "200"}};
        fault.insert("body", QString::fromUtf8(body));
        QCOMPARE(m_services->admin("fault", fault).value("code").toInt(), 1);
    }

    bool serviceLive()
    {
        for (const QJsonValue& user : m_services->getJson("admin/state").value("data")["users"].toArray())
            if (user["userId"] == kUser)
                return user["live"].toBool();
        return false;
    }

    MuVoicePanel* panel() const { return m_user->panel(); }

    // Neither the password (when given), its MD5 nor the requests' signing key reaches the log.
    static void noSecretsLogged(const QString& password)
    {
        QVERIFY(password.isEmpty() || LogCapture::count(password) == 0);
        for (const QString& secret : {MuSettings::md5Hex(password.isEmpty() ? kPassword : password),
                                      MuServer::instance()->signKey("1000")})
            QVERIFY2(!secret.isEmpty() && LogCapture::count(secret) == 0, qPrintable(secret));
    }

    std::unique_ptr<LogCapture> m_log;
    std::unique_ptr<TestEnv::ScopedWorkDir> m_dir;
    std::unique_ptr<LocalServicesProcess> m_services;
    std::unique_ptr<SessionDriver> m_user;
};

QTEST_MAIN(tst_FaultSuite)
#include "tst_faultsuite.moc"
