#include "base/LogHandler.h"
#include "base/ShellFunctions.h"

#include "support/TestEnv.h"

#include <QtTest>

// With TAVIO_FATAL_CHILD set, the test binary logs into its working directory and calls fatalExit.
class TestShellFunctions : public QObject
{
    Q_OBJECT

private slots:
    // FileVersion and ProductName are carried, SpecialBuild (11) and above are not; null: the read fails.
    void versionBlockReadFromTheFile()
    {
        const QString program = TAVIO_APP_PATH;
        const QList<std::tuple<QString, int, QString>> rows{
            {program, 9, TAVIO_VERSION_TEXT}, {program, 2, "Tavio语音房电脑助手"},
            {program, 11, QString()},         {program, 12, QString()},
            {"/bin/sh", 9, QString()},        {"missing.bin", 9, QString()}};
        for (const auto& [path, selector, expected] : rows) {
            std::string value = "stale";
            QCOMPARE(readFileVersionValue(path.toStdString(), selector, value), !expected.isNull());
            QCOMPARE(QString::fromStdString(value), expected); // empty after a failure
        }
    }

    void fatalExitLogsWarningAndExitsWithMinusOne()
    {
        TestEnv::ScopedWorkDir dir;
        QProcess child;
        qputenv("TAVIO_FATAL_CHILD", "1"); // the child inherits it
        child.start(QCoreApplication::applicationFilePath(), QStringList());
        qunsetenv("TAVIO_FATAL_CHILD");
        QVERIFY(child.waitForFinished(60000) && child.exitStatus() == QProcess::NormalExit);
        QCOMPARE(child.exitCode(), 255); // exit(-1)
        const QString log = TestEnv::readText(LogHandler::fileNameFor(QDateTime::currentDateTime()));
        QVERIFY2(log.endsWith(" WARNING \nschema request/x.proto missing\r\n"), qPrintable(log));
        // The echo on standard output is the same entry, ended by a plain line feed.
        const QString echo = QString::fromUtf8(child.readAllStandardOutput());
        const QRegularExpression entry("^\\d\\d:\\d\\d:\\d\\d WARNING \nschema request/x.proto missing\n$");
        QVERIFY2(echo.contains(entry), qPrintable(echo));
    }
};

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsSet("TAVIO_FATAL_CHILD")) {
        installLogHandler(true, true); // with the console echo
        fatalExit("schema request/x.proto missing");
    }
    QCoreApplication app(argc, argv);
    TestShellFunctions test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_shellfunctions.moc"
