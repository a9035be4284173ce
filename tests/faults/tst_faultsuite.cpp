// The standing fault suite: what users and the outside world do to the assistant, one row per
// scenario in three tables: the real program (files broken in each way, ended by each signal) and
// its real windows in this process (the service failing at login; the service, the peers, signals,
// rapid clicks and login cycles while live), with the local services, and nginx and PulseAudio
// behind the real RTC layer when the test command started them. Each checks: no crash, the
// settings files kept or correctly rewritten, the service told the truth, the user shown a
// correct text. The number of scenarios is printed at the end.

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

#include <QApplication>
#include <QJsonArray>
#include <QMouseEvent>
#include <QPushButton>
#include <QTcpServer>
#include <QtTest>

#include <csignal>
#include <cstdio>
#include <memory>

using agora::rtc::ScriptedRtcBackend;

namespace {

const QString kUser = QStringLiteral("10001");
const QString kPassword = QStringLiteral("123456");
const QString kWrongLogin = QStringLiteral("用户ID密码不正确");
const QString kNetwork = QStringLiteral("网络异常");
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

} // namespace

class tst_FaultSuite : public QObject
{
    Q_OBJECT

    int m_scenarios = 0;
    int m_failures = 0;

private slots:
    void initTestCase()
    {
        if (!realPeers() && TestEnv::peersRequired())
            QFAIL("PulseAudio and the RTMP server are required but not running");
        // Without the peers the same scenarios run on the scripted RTC layer.
        ScriptedRtcBackend::setEnabled(!realPeers());
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
        if (QTest::currentTestFailed())
            ++m_failures;
        m_user.reset();
        MuSettings::destroyInstance();
        m_services.reset();
        m_dir.reset();
    }

    void cleanupTestCase()
    {
        const QByteArray summary = QStringLiteral("fault scenarios: %1 run, %2 failed (%3 RTC layer)\n")
                                       .arg(m_scenarios)
                                       .arg(m_failures)
                                       .arg(realPeers() ? "real" : "scripted")
                                       .toUtf8();
        std::fputs(summary.constData(), stdout);
        std::fflush(stdout);
        // Also beside the build, one line per run (the groups run as separate cases), where the
        // test command adds them up.
        QFile file(QStringLiteral(TAVIO_BINARY_DIR "/faults-summary.txt"));
        if (file.open(QIODevice::WriteOnly | QIODevice::Append))
            file.write(summary);
    }

    // ---- Files, with the real program: started, then ended by SIGTERM (or the row's signal: a
    // desktop session ending, Ctrl-C, a closing terminal).
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
        QByteArray garbage;
        for (int i = 0; i < 4096; ++i)
            garbage += char((i * 37) % 251 == '=' || (i * 37) % 251 == '[' ? 1 : (i * 37) % 251);
        QByteArray hugeIni;
        for (int i = 0; i < 20000; ++i)
            hugeIni += "; comment line number " + QByteArray::number(i) + " of a huge file\n";
        hugeIni += remembered;
        const QByteArray hugeConfig =
            "{\"ServerType\":\"1000\",\"pad\":\"" + QByteArray(5 << 20, 'x') + "\"}";

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
        if (config == "<folder>")
            TestEnv::writeFile("Config", "not a folder");
        else if (!config.isNull())
            TestEnv::writeFile("Config/GlobalConfig.json", config);
        const QString todaysLog = LogHandler::fileNameFor(QDateTime::currentDateTime());
        const QByteArray tag = QTest::currentDataTag();
        const QString blocker = tag == "log is a file"             ? "log"
                                : tag == "today's log is a folder" ? todaysLog
                                                                   : "";
        const bool logBroken = !blocker.isEmpty();
        if (tag == "log is a file")
            TestEnv::writeFile("log", "not a folder");
        else if (logBroken)
            QDir().mkpath(blocker);

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
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
        QVERIFY(!QDir("crash").exists());
        const QString seen = logBroken ? QString::fromLocal8Bit(err) : TestEnv::readText(todaysLog);
        QVERIFY2(seen.contains(logged), qPrintable(seen.right(2000)));
        if (logBroken) { // said once, naming the place
            QCOMPARE(err.count("log: cannot write"), 1);
            QVERIFY2(err.contains(QDir::current().absoluteFilePath(blocker).toLocal8Bit()), err.constData());
        }
        QCOMPARE(TestEnv::readBytes("MuVozedIvazerida.ini"), mainAfter);
        if (!temp.isNull())
            QCOMPARE(TestEnv::readBytes("MuVozedIvazeridaTemp.ini"), temp);
    }

    // ---- The configuration and push-stream services failing at login.
    void loginFaults_data()
    {
        QTest::addColumn<QString>("operation"); // the request that suffers
        QTest::addColumn<QString>("mode");      // local services fault mode; "down": nothing listens
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("toast"); // empty: logged in; "*": the service's own refusal

        const QByteArray huge = QByteArray(100 * 1024, 'm');
        const QByteArray bigReply = "{\"code\":1,\"msg\":\"" + QByteArray(5 << 20, 'p') + "\",\"data\":{}}";
        const QByteArray none;
        // clang-format off
        QTest::newRow("configuration down") << "sdkinit" << "down" << 0 << none << kPassword << "初始化为空";
        QTest::newRow("configuration 500") << "sdkinit" << "error500" << 0 << none << kPassword << "初始化为空";
        QTest::newRow("configuration garbage") << "sdkinit" << "garbage" << 0 << none << kPassword << "服务为空";
        QTest::newRow("configuration of wrong types") << "sdkinit" << "reply" << 200 << QByteArray("{\"code\":1,\"data\":{\"roomServer\":7}}") << kPassword << "服务为空";
        QTest::newRow("configuration reply 5 MB") << "sdkinit" << "reply" << 200 << bigReply << kPassword << "服务为空";
        QTest::newRow("push service down") << "login" << "down" << 0 << none << kPassword << kNetwork;
        QTest::newRow("login 500") << "login" << "error500" << 0 << none << kPassword << kWrongLogin;
        QTest::newRow("login garbage") << "login" << "garbage" << 0 << none << kPassword << kWrongLogin;
        QTest::newRow("login slow") << "login" << "slow" << 1500 << none << kPassword << QString();
        QTest::newRow("login wrong password") << "" << "none" << 0 << none << "654321" << "*";
        QTest::newRow("success without data") << "login" << "reply" << 200 << QByteArray("{\"code\":1,\"msg\":\"success\"}") << kPassword << kWrongLogin;
        QTest::newRow("code of wrong type") << "login" << "reply" << 200 << QByteArray("{\"code\":\"1\",\"msg\":\"success\",\"data\":{}}") << kPassword << kWrongLogin;
        QTest::newRow("markup message") << "login" << "reply" << 200 << QByteArray("{\"code\":2001,\"msg\":\"<img src=\\\"file:///etc/x.png\\\">\"}") << kPassword << "<img src=\"file:///etc/x.png\">";
        QTest::newRow("bidi message") << "login" << "reply" << 200 << QByteArray("{\"code\":2001,\"msg\":\"\\u202eEVIL\\n!\"}") << kPassword << "EVIL !";
        QTest::newRow("100 KB message") << "login" << "reply" << 200 << QByteArray("{\"code\":2001,\"msg\":\"" + huge + "\"}") << kPassword << QString::fromLatin1(huge);
        // clang-format on
    }

    void loginFaults()
    {
        QFETCH(QString, operation);
        QFETCH(QString, mode);
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QString, password);
        QFETCH(QString, toast);
        startServices();
        if (mode == QLatin1String("down")) {
            const QString closed = QStringLiteral("http://127.0.0.1:%1/").arg(closedPort());
            if (operation == QLatin1String("sdkinit"))
                VGlobalConfig::instance()->setValue("sdkinit", closed + "sdkinit");
            else
                setFault("reply", "sdkinit", 200,
                         "{\"code\":1,\"data\":{\"roomServer\":\"" + closed.toUtf8() + "\"}}");
        } else if (mode != QLatin1String("none")) {
            setFault(mode, operation, status, body);
        }
        m_user = std::make_unique<SessionDriver>();
        m_user->attemptLogin(kUser, password);

        // Every outside text cut at 2 KB in the log.
        QVERIFY(LogCapture::lines().join(QString()).toUtf8().size() < 40000);
        noSecretsLogged(password);
        const bool loggedIn = panel()->isVisible();
        QCOMPARE(loggedIn, toast.isEmpty());
        if (loggedIn) {
            m_user.reset(); // writes the files
            QCOMPARE(TestEnv::readBytes("MuVozedIvazerida.ini"), mainIni(kUser, kPassword));
            return;
        }
        QVERIFY(m_user->window()->isVisible());
        const QString shown = m_user->toast();
        if (toast == QLatin1String("*"))
            QVERIFY2(!shown.isEmpty() && !shown.contains("success"), qPrintable(shown));
        else
            QCOMPARE(shown, toast);
        QVERIFY(!QFile::exists("MuVozedIvazerida.ini")); // nothing saved on a failed login
    }

    // ---- The service and the peers failing while the user pushes; the program ended by a signal
    // while live (the windows close as the user would close them, so the service hears that the
    // push ended); clicks faster than the service answers; twenty sessions in a row.
    void liveFaults_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("state");       // the panel's state afterwards (0: back at login)
        QTest::addColumn<QString>("message"); // first line of the panel's message box, empty: none
        QTest::addColumn<bool>("live");       // what the service believes afterwards

        QTest::newRow("heartbeat 500") << "heartbeat error500" << 3 << QString() << true;
        QTest::newRow("heartbeat garbage") << "heartbeat garbage" << 3 << QString() << true;
        QTest::newRow("heartbeat slow") << "heartbeat slow" << 3 << QString() << true;
        QTest::newRow("heartbeat of wrong types") << "heartbeat types" << 3 << QString() << true;
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
        QTest::newRow("RTMP server unreachable") << "rtmp closed" << 3 << QString() << true;
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
        const QString kind = fault.section(' ', 0, 0);
        const QString detail = fault.section(' ', 1);
        startServices(kind == QLatin1String("rtmp") ? closedPort() : 0);
        m_user = std::make_unique<SessionDriver>();
        if (kind == QLatin1String("cycles"))
            return loginCycles();
        m_user->attemptLogin(kUser, kPassword);
        QVERIFY(panel()->isVisible());
        m_user->takeOverHeartbeat();
        if (kind == QLatin1String("clicks"))
            return rapidClicks();
        m_user->press("pushButton_push");
        QCOMPARE(panel()->pushState(), int(PanelStateStartPush));
        if (kind == QLatin1String("start")) {
            if (detail == QLatin1String("refused"))
                m_services->admin("mic", {{"userId", kUser}, {"on", "0"}});
            else
                setFault(detail, "changeLiveStatus", 0, QByteArray());
        }
        m_user->press("pushButton_push");
        if (kind != QLatin1String("start")) {
            QCOMPARE(panel()->pushState(), int(PanelStatePushing));
            QVERIFY(serviceLive());
        }

        if (kind == QLatin1String("signal"))
            return signalWhileLive(detail.toInt());
        if (kind == QLatin1String("heartbeat")) {
            if (detail == QLatin1String("down"))
                MuServer::instance()->setServer(QStringLiteral("http://127.0.0.1:%1/").arg(closedPort()),
                                                QStringLiteral("1000"));
            else if (detail == QLatin1String("types"))
                setFault("reply", "checkLiveStatus", 200, "{\"code\":[1],\"msg\":{},\"data\":[]}");
            else
                setFault(detail, "checkLiveStatus", detail == QLatin1String("slow") ? 1500 : 0, QByteArray());
            const int beats = detail == QLatin1String("down") ? 31 : 3; // 62 s of failures give up
            for (int i = 0; i < beats; ++i)
                m_user->beat();
        } else if (kind == QLatin1String("phone")) { // the phone side, then the next heartbeat
            const QString pair = detail.section(' ', 1);
            m_services->admin(detail.section(' ', 0, 0),
                              {{"userId", kUser}, {pair.section('=', 0, 0), pair.section('=', 1)}});
            m_user->beat();
        } else if (kind == QLatin1String("rtmp")) {
            QTest::qWait(1000); // the relay meets the refusal meanwhile
            m_user->beat();
        } else if (kind == QLatin1String("close")) {
            QVERIFY(panel()->close());
        } else if (kind == QLatin1String("stop")) {
            m_user->press("pushButton_push");
        }

        const QString line1 = m_user->boxLine(1), line2 = m_user->boxLine(2);
        QVERIFY2(m_user->boxShown() == !message.isEmpty(), qPrintable(line1));
        if (message == QLatin1String("*"))
            QVERIFY(!line1.isEmpty() && line1 != QLatin1String("无法推流"));
        else if (!message.isEmpty())
            QVERIFY2(line1 == message || line2 == message, qPrintable(line1 + " / " + line2));
        if (m_user->boxShown())
            m_user->dismissBox();
        QCOMPARE(state == 0 ? 0 : panel()->pushState(), state);
        QCOMPARE(m_user->window()->isVisible(), state == 0);
        QCOMPARE(serviceLive(), live);
        if (detail.startsWith(QLatin1String("ban")))
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
        // The handler ended the (absent) main loop; an application run of our own clears that,
        // or every later nested event loop would return at once.
        QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        QApplication::exec();
        QVERIFY(!serviceLive());
        m_user.reset();
        QCOMPARE(TestEnv::readBytes("MuVozedIvazerida.ini"), mainIni(kUser, kPassword));
    }

    // Presses that land while a request runs meet a disabled button; whatever the panel ends in
    // is what the service believes.
    void rapidClicks()
    {
        const auto postClick = [](QWidget* widget) {
            const QPoint centre = widget->rect().center();
            for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease})
                QCoreApplication::postEvent(widget,
                                            new QMouseEvent(type, centre, widget->mapToGlobal(centre),
                                                            Qt::LeftButton, Qt::LeftButton, Qt::NoModifier));
        };
        for (int i = 0; i < 200; ++i) {
            postClick(m_user->button("pushButton_push"));
            if (i % 7 == 0)
                postClick(m_user->button("pushButton_mute"));
        }
        bool drained = false;
        QMetaObject::invokeMethod(
            qApp, [&drained]() { drained = true; }, Qt::QueuedConnection);
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

    static quint16 closedPort()
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        return probe.serverPort();
    }

    // The local services, handing out push addresses of the test's RTMP server (or rtmpPort).
    void startServices(quint16 rtmpPort = 0)
    {
        m_services = std::make_unique<LocalServicesProcess>();
        const QUrl rtmp(TestEnv::peer("TAVIO_RTMP_URL_BASE"));
        const int port = rtmpPort ? rtmpPort : (rtmp.port() > 0 ? rtmp.port() : 1935);
        QVERIFY(m_services->start({"--rtmp-port", QString::number(port)}));
        VGlobalConfig::instance()->setValue("ServerType", "1000");
        VGlobalConfig::instance()->setValue("sdkinit", m_services->baseUrl() + "sdkinit");
        VGlobalConfig::instance()->setValue("roomServer", QString()); // what an earlier reply left
    }

    void setFault(const QString& mode, const QString& operation, int statusOrDelay, const QByteArray& body)
    {
        QJsonObject params{{"mode", mode}, {"operation", operation}};
        if (mode == QLatin1String("slow"))
            params.insert("delayMs", QString::number(statusOrDelay));
        if (mode == QLatin1String("reply")) {
            params.insert("status", QString::number(statusOrDelay));
            params.insert("body", QString::fromUtf8(body));
        }
        const QJsonObject answer = m_services->admin("fault", params);
        QVERIFY2(answer.value("code").toInt() == 1, QJsonDocument(answer).toJson().constData());
    }

    bool serviceLive()
    {
        const QJsonObject state = m_services->getJson("admin/state");
        for (const QJsonValue& user : state.value("data").toObject().value("users").toArray())
            if (user.toObject().value("userId").toString() == kUser)
                return user.toObject().value("live").toBool();
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
