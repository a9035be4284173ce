#include "app/AppLifetime.h"
#include "base/LogHandler.h"
#include "base/zebUtility.h"
#include "config/VGlobalConfig.h"

#include "support/TestEnv.h"

#include <QtTest>
#include <QtWidgets>

// Runs the real start-up and shutdown in this process (no application object of the test
// framework): a step observer looks at a few steps and closes the windows once the event loop runs.
class TestAppLifetime : public QObject
{
    Q_OBJECT

private slots:
    void startUpAndShutdown_data()
    {
        QTest::addColumn<QByteArray>("config");
        QTest::addColumn<bool>("report");
        QTest::newRow("no configuration file") << QByteArray() << false;
        QTest::newRow("dumpTest") << QByteArray("{\"deviceId\":\"from-file\",\"dumpTest\":\"true\"}") << true;
        QTest::newRow("dumpTest upper case") << QByteArray("{\"dumpTest\":\"TRUE\"}") << false;
        QTest::newRow("dumpTest json literal") << QByteArray("{\"dumpTest\":true}") << false;
        QTest::newRow("broken configuration") << QByteArray("{\"ServerType\": oops") << false;
    }

    void startUpAndShutdown()
    {
        QFETCH(QByteArray, config);
        QFETCH(bool, report);
        TestEnv::ScopedWorkDir dir;
        if (!config.isEmpty())
            QVERIFY(TestEnv::writeFile("Config/GlobalConfig.json", config));
        // The device identifier skips the loopback and VMware interfaces (in any case).
        zebUtility::setInterfaceSource([] {
            return QList<zebUtility::InterfaceRecord>{{"lo", "00:00:00:00:00:00", true},
                                                      {"my vmware bridge", "00:50:56:C0:00:01", false},
                                                      {"eth0", "52:54:00:AB:CD:EF", false}};
        });
        VGlobalConfig::instance()->setValue("deviceId", "stale");
        QStringList steps;
        QString deviceIdAtConfiguration;
        bool logAtDeviceId = true;
        AppLifetime::setStepObserver([&](const QString& step) {
            steps.append(step);
            if (step == "deviceId")
                logAtDeviceId = QFileInfo::exists("log");
            if (step == "configuration")
                deviceIdAtConfiguration = VGlobalConfig::instance()->value("deviceId");
            if (step == "event loop") { // closing the last window ends the loop; the quit is a safety net
                QTimer::singleShot(0, qApp, &QApplication::closeAllWindows);
                QTimer::singleShot(10000, qApp, &QApplication::quit);
            }
        });
        static int argc = 1;
        static char name[] = "tst_applifetime", *argv[] = {name, nullptr};
        const QtMessageHandler testHandler =
            qInstallMessageHandler(nullptr); // the program's, for the run only
        qInstallMessageHandler(testHandler);
        const int exitCode = AppLifetime::run(argc, argv);
        qInstallMessageHandler(testHandler);
        AppLifetime::setStepObserver({});
        zebUtility::setInterfaceSource({});
        VGlobalConfig::instance()->setValue("dumpTest", QString());
        QCOMPARE(exitCode, 0);
        QVERIFY(steps.contains("event loop")); // the self-test does not stop the start-up
        // The device identifier is stored before the log handler; the configuration file may override it.
        QVERIFY(!logAtDeviceId);
        const QString deviceId = report ? QString("from-file") : QString("52:54:00:AB:CD:EF");
        QCOMPARE(deviceIdAtConfiguration, deviceId);
        QCOMPARE(VGlobalConfig::instance()->value("deviceId"), deviceId);
        const QString log = TestEnv::readText(LogHandler::fileNameFor(QDateTime::currentDateTime()));
        const QRegularExpression mainStartFirst("^\\d\\d:\\d\\d:\\d\\d INFO \nmain start\r\n");
        QVERIFY2(mainStartFirst.match(log).hasMatch() &&
                     log.indexOf(" INFO \nversion \"" TAVIO_VERSION_TEXT "\"\r\n") > 0,
                 qPrintable(log));
        const QStringList reports = QDir("crash").entryList(QDir::Files);
        QCOMPARE(reports.size(), report ? 1 : 0);
        if (!report)
            return;
        const QString path = QDir::current().absoluteFilePath("crash/" + reports.first());
        const QString text = TestEnv::readText(path);
        QVERIFY2(text.contains("application: VozedIvazerida\nversion: " TAVIO_VERSION_TEXT "\n") &&
                     text.contains("user name: 名字\n"),
                 qPrintable(text));
        QVERIFY(log.contains(QString("main dumpTest report \"%1\"").arg(path)));
    }
};

int main(int argc, char** argv)
{
    TestAppLifetime test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_applifetime.moc"
