#include "base/LogHandler.h"
#include "base/ShellFunctions.h"

#include "support/TestEnv.h"

#include <QtTest>

// With TAVIO_FATAL_CHILD set, the test binary logs into its working directory and calls fatalExit.
class TestShellFunctions : public QObject
{
    Q_OBJECT

private slots:
    void versionBlockReadFromTheFile_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("selector");
        QTest::addColumn<QString>("expected"); // null: the read fails
        const QString program = TAVIO_APP_PATH;
        QTest::newRow("FileVersion") << program << 9 << TAVIO_VERSION_TEXT;
        QTest::newRow("ProductName") << program << 2 << "Tavio语音房电脑助手";
        QTest::newRow("SpecialBuild not carried") << program << 11 << QString();
        QTest::newRow("above 11") << program << 12 << QString();
        QTest::newRow("program without a block") << "/bin/sh" << 9 << QString();
        QTest::newRow("missing file") << "missing.bin" << 9 << QString();
    }

    void versionBlockReadFromTheFile()
    {
        QFETCH(QString, path);
        QFETCH(int, selector);
        QFETCH(QString, expected);
        std::string value = "stale";
        QCOMPARE(readFileVersionValue(path.toStdString(), selector, value), !expected.isNull());
        QCOMPARE(QString::fromStdString(value), expected); // empty after a failure
    }

    void fatalExitLogsWarningAndExitsWithMinusOne()
    {
        TestEnv::ScopedWorkDir dir;
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("TAVIO_FATAL_CHILD", "1");
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(), QStringList());
        QVERIFY(child.waitForFinished(60000));
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.exitCode(), 255); // exit(-1)
        const QString log = TestEnv::readText(LogHandler::fileNameFor(QDateTime::currentDateTime()));
        QVERIFY2(log.endsWith(" WARNING \nschema request/x.proto missing\r\n"), qPrintable(log));
        // The echo on standard output is the same entry, ended by a plain line feed.
        const QString echo = QString::fromUtf8(child.readAllStandardOutput());
        QVERIFY2(QRegularExpression("^\\d\\d:\\d\\d:\\d\\d WARNING \nschema request/x.proto missing\n$")
                     .match(echo)
                     .hasMatch(),
                 qPrintable(echo));
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
