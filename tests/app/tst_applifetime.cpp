#include "app/AppLifetime.h"
#include "app/LogHandler.h"
#include "app/zebUtility.h"
#include "config/VGlobalConfig.h"

#include "support/TestEnv.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTimer>
#include <QtTest>

// Runs the real start-up and shutdown order in this process (no application object of the test
// framework): a step observer records the steps and closes the windows once the event loop runs.
namespace {

const QString kFakeMac = QStringLiteral("52:54:00:AB:CD:EF");

struct RunResult
{
    int exitCode = -100;
    QStringList steps;
    QString deviceIdAtConfigurationStep;
    bool logExistedAtDeviceIdStep = true;
};

RunResult runLifetime()
{
    static int argc = 1;
    static char name[] = "tst_applifetime";
    static char* argv[] = {name, nullptr};

    zebUtility::setInterfaceSource([] {
        zebUtility::InterfaceRecord lo;
        lo.name = QStringLiteral("lo");
        lo.isLoopback = true;
        zebUtility::InterfaceRecord eth;
        eth.name = QStringLiteral("eth0");
        eth.hardwareAddress = kFakeMac;
        return QList<zebUtility::InterfaceRecord>{lo, eth};
    });
    VGlobalConfig::instance()->setValue(QStringLiteral("deviceId"), QStringLiteral("stale"));

    RunResult result;
    AppLifetime::setStepObserver([&result](const QString& step) {
        result.steps.append(step);
        if (step == QLatin1String("deviceId"))
            result.logExistedAtDeviceIdStep = QFileInfo::exists(QStringLiteral("log"));
        if (step == QLatin1String("configuration"))
            result.deviceIdAtConfigurationStep = VGlobalConfig::instance()->value(QStringLiteral("deviceId"));
        if (step == QLatin1String("event loop")) {
            // Closing the last window ends the loop the ordinary way; the quit is only a safety net.
            QTimer::singleShot(0, qApp, &QApplication::closeAllWindows);
            QTimer::singleShot(10000, qApp, &QApplication::quit);
        }
    });

    // The program's log handler replaces the test framework's for the run only.
    const QtMessageHandler testHandler = qInstallMessageHandler(nullptr);
    qInstallMessageHandler(testHandler);
    result.exitCode = AppLifetime::run(argc, argv);
    qInstallMessageHandler(testHandler);
    AppLifetime::setStepObserver({});
    zebUtility::setInterfaceSource({});
    return result;
}

QString todaysLog()
{
    return TestEnv::readText(LogHandler::fileNameFor(QDateTime::currentDateTime()));
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

const QStringList kExpectedSteps = {"application",
                                    "icon",
                                    "deviceId",
                                    "log handler",
                                    "settings",
                                    "configuration",
                                    "schemas",
                                    "version",
                                    "crash reporter",
                                    "dumpTest",
                                    "login window",
                                    "event loop",
                                    "release schemas",
                                    "release http",
                                    "release websocket",
                                    "release push-stream client",
                                    "release settings",
                                    "release login window",
                                    "release application"};

} // namespace

class TestAppLifetime : public QObject
{
    Q_OBJECT

private slots:
    void orderWithoutConfigFolder()
    {
        TestEnv::ScopedWorkDir dir;
        const RunResult run = runLifetime();
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.steps, kExpectedSteps);
        // The device identifier is stored before the log handler and the configuration file.
        QVERIFY(!run.logExistedAtDeviceIdStep);
        QCOMPARE(run.deviceIdAtConfigurationStep, kFakeMac);
        QCOMPARE(VGlobalConfig::instance()->value(QStringLiteral("deviceId")), kFakeMac);
        QVERIFY(QFileInfo(QStringLiteral("res/logo")).isDir() ||
                !QFileInfo::exists(QStringLiteral("Config")));
        QVERIFY(!QFileInfo::exists(QStringLiteral("crash")));
    }

    void logStartsWithMainStartThenVersion()
    {
        TestEnv::ScopedWorkDir dir;
        QCOMPARE(runLifetime().exitCode, 0);
        const QString log = todaysLog();
        const QRegularExpression first(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d INFO \nmain start\r\n"));
        QVERIFY2(first.match(log).hasMatch(), qPrintable(log));
        const int version = log.indexOf(QStringLiteral(" INFO \nversion \"" TAVIO_VERSION_TEXT "\"\r\n"));
        QVERIFY2(version > 0, qPrintable(log));
        // Both come before anything that the login window logs.
        const int window = log.indexOf(QStringLiteral("MuVozedIvazerida::"));
        QVERIFY(window < 0 || window > version);
    }

    void configFileOverridesDeviceIdAndDumpTestWritesReport()
    {
        TestEnv::ScopedWorkDir dir;
        QVERIFY(writeFile(QStringLiteral("Config/GlobalConfig.json"),
                          "{\"deviceId\":\"from-file\",\"dumpTest\":\"true\",\"ServerType\":\"t\"}"));
        const RunResult run = runLifetime();
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.steps, kExpectedSteps); // the self-test did not stop the start-up
        QCOMPARE(VGlobalConfig::instance()->value(QStringLiteral("deviceId")), QStringLiteral("from-file"));
        const QStringList reports = QDir(QStringLiteral("crash")).entryList(QDir::Files);
        QCOMPARE(reports.size(), 1);
        const QString report = TestEnv::readText(QStringLiteral("crash/") + reports.first());
        QVERIFY(report.contains(QStringLiteral("database: hollin\n")));
        QVERIFY(report.contains(QStringLiteral("application: VozedIvazerida\n")));
        QVERIFY(report.contains(QStringLiteral("version: " TAVIO_VERSION_TEXT "\n")));
        QVERIFY(report.contains(QStringLiteral("user name: 名字\n")));
        QVERIFY(todaysLog().contains(
            QStringLiteral("main dumpTest report \"%1\"")
                .arg(QDir::current().absoluteFilePath(QStringLiteral("crash/") + reports.first()))));
        VGlobalConfig::instance()->setValue(QStringLiteral("dumpTest"), QString());
    }

    void dumpTestOnlyForTheExactText_data()
    {
        QTest::addColumn<QByteArray>("config");
        QTest::newRow("upper case") << QByteArray("{\"dumpTest\":\"TRUE\"}");
        QTest::newRow("json literal") << QByteArray("{\"dumpTest\":true}");
        QTest::newRow("absent") << QByteArray("{}");
    }

    void dumpTestOnlyForTheExactText()
    {
        QFETCH(QByteArray, config);
        TestEnv::ScopedWorkDir dir;
        QVERIFY(writeFile(QStringLiteral("Config/GlobalConfig.json"), config));
        QCOMPARE(runLifetime().exitCode, 0);
        QVERIFY(!QFileInfo::exists(QStringLiteral("crash")));
    }

    void brokenInputsDoNotStopTheProgram()
    {
        TestEnv::ScopedWorkDir dir;
        QVERIFY(writeFile(QStringLiteral("Config/GlobalConfig.json"), "{\"ServerType\": oops"));
        QVERIFY(writeFile(QStringLiteral("log"), "a file where the log folder belongs"));
        QVERIFY(
            writeFile(QStringLiteral("MuVozedIvazerida.ini"), "userid=10001\npassword=%%%\n[broken\n=\n"));
        QVERIFY(writeFile(QStringLiteral("MuVozedIvazeridaTemp.ini"),
                          "[10001]\nvolume=abc\n[20002]\nvolume=55\n"));
        const RunResult run = runLifetime();
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.steps, kExpectedSteps);
        QCOMPARE(VGlobalConfig::instance()->value(QStringLiteral("deviceId")), kFakeMac);
        QCOMPARE(TestEnv::readText(QStringLiteral("log")),
                 QStringLiteral("a file where the log folder belongs"));
        QSettings main(QStringLiteral("MuVozedIvazerida.ini"), QSettings::IniFormat);
        QCOMPARE(main.value(QStringLiteral("userid")).toString(), QStringLiteral("10001"));
        QSettings temp(QStringLiteral("MuVozedIvazeridaTemp.ini"), QSettings::IniFormat);
        QCOMPARE(temp.value(QStringLiteral("20002/volume")).toInt(), 55);
    }

    // The real program: started in an empty folder, ended by SIGTERM like a desktop session ends it.
    void realProgramStartsAndShutsDownOnTerminate()
    {
        TestEnv::ScopedWorkDir dir;
        QProcess program;
        program.setWorkingDirectory(dir.path());
        program.start(QStringLiteral(TAVIO_APP_PATH), QStringList());
        QVERIFY(program.waitForStarted(30000));
        const QString versionLine = QStringLiteral(" INFO \nversion \"" TAVIO_VERSION_TEXT "\"\r\n");
        QTRY_VERIFY_WITH_TIMEOUT(todaysLog().contains(versionLine), 60000);
        QTest::qWait(300); // let the event loop start
        program.terminate();
        QVERIFY(program.waitForFinished(60000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
        const QString log = todaysLog();
        QVERIFY(log.indexOf(QStringLiteral(" INFO \nmain start\r\n")) < log.indexOf(versionLine));
        QVERIFY2(log.contains(QStringLiteral("main termination signal")), qPrintable(log));
        // Logged before the log handler exists, so it goes to standard error.
        QVERIFY(program.readAllStandardError().contains("MAC===="));
        QVERIFY(QFileInfo(QStringLiteral("res/logo")).isDir());
    }
};

int main(int argc, char** argv)
{
    TestAppLifetime test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_applifetime.moc"
