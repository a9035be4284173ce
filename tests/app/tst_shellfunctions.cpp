#include "app/LogHandler.h"
#include "app/ShellFunctions.h"

#include "support/TestEnv.h"

#include <QDate>
#include <QFile>
#include <QProcess>
#include <QtTest>

// With TAVIO_FATAL_CHILD set, the test binary logs into its working directory and calls fatalExit.
namespace {

const char kChildVariable[] = "TAVIO_FATAL_CHILD";

std::string programPath()
{
    return std::string(TAVIO_APP_PATH);
}

} // namespace

class TestShellFunctions : public QObject
{
    Q_OBJECT

private slots:
    void versionOfTheRealProgram_data()
    {
        QTest::addColumn<int>("selector");
        QTest::addColumn<QString>("expected");
        QTest::newRow("FileVersion") << 9 << QStringLiteral(TAVIO_VERSION_TEXT);
        QTest::newRow("ProductVersion") << 5 << QStringLiteral(TAVIO_VERSION_TEXT);
        QTest::newRow("ProductName") << 2 << QStringLiteral("Tavio语音房电脑助手");
        QTest::newRow("OriginalFilename") << 10 << QStringLiteral("VozedIvazerida");
        QTest::newRow("InternalName") << 1 << QStringLiteral("VozedIvazerida");
    }

    void versionOfTheRealProgram()
    {
        QFETCH(int, selector);
        QFETCH(QString, expected);
        std::string value = "stale";
        QVERIFY(readFileVersionValue(programPath(), selector, value));
        QCOMPARE(QString::fromStdString(value), expected);
    }

    void outOfRangeAndMissingValuesFail_data()
    {
        QTest::addColumn<int>("selector");
        QTest::newRow("above 11") << 12;
        QTest::newRow("far above") << 1000;
        QTest::newRow("negative") << -1;
        QTest::newRow("SpecialBuild not carried") << 11;
        QTest::newRow("PrivateBuild not carried") << 8;
    }

    void outOfRangeAndMissingValuesFail()
    {
        QFETCH(int, selector);
        std::string value = "stale";
        QVERIFY(!readFileVersionValue(programPath(), selector, value));
        QVERIFY(value.empty());
    }

    void filesWithoutBlockFail()
    {
        TestEnv::ScopedWorkDir dir;
        QFile plain(QStringLiteral("plain.bin"));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.write(QByteArray(4096, '\x7f'));
        plain.close();
        QFile empty(QStringLiteral("empty.bin"));
        QVERIFY(empty.open(QIODevice::WriteOnly));
        empty.close();
        for (const char* path : {"plain.bin", "empty.bin", "missing.bin", "/bin/sh", ""}) {
            std::string value = "stale";
            QVERIFY2(!readFileVersionValue(path, 9, value), path);
            QVERIFY(value.empty());
        }
    }

    void truncatedCopyOfTheProgramFails()
    {
        // A copy cut right after the marker region must not read past its end.
        TestEnv::ScopedWorkDir dir;
        QFile program(QStringLiteral(TAVIO_APP_PATH));
        QVERIFY(program.open(QIODevice::ReadOnly));
        const QByteArray bytes = program.readAll();
        const QByteArray name = QByteArrayLiteral("ProductVersion\t");
        const int at = bytes.indexOf(name);
        QVERIFY(at > 0);
        QFile cut(QStringLiteral("cut.bin"));
        QVERIFY(cut.open(QIODevice::WriteOnly));
        cut.write(bytes.left(at + name.size() + 2)); // the value is cut short and never ended
        cut.close();
        std::string value;
        QVERIFY(!readFileVersionValue("cut.bin", 9, value));
        QVERIFY(readFileVersionValue("cut.bin", 1, value)); // entries before the cut still read
        QCOMPARE(QString::fromStdString(value), QStringLiteral("VozedIvazerida"));
    }

    void fatalExitLogsWarningAndExitsWithMinusOne()
    {
        TestEnv::ScopedWorkDir dir;
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QString::fromLatin1(kChildVariable), QStringLiteral("1"));
        child.setProcessEnvironment(env);
        child.setWorkingDirectory(dir.path());
        child.start(QCoreApplication::applicationFilePath(), QStringList());
        QVERIFY(child.waitForFinished(60000));
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.exitCode(), 255); // exit(-1)
        const QString log = TestEnv::readText(LogHandler::fileNameFor(QDateTime::currentDateTime()));
        QVERIFY2(log.endsWith(QStringLiteral(" WARNING \nschema request/x.proto missing\r\n")),
                 qPrintable(log));
        // The echo on standard output is the same entry, ended by a plain line feed.
        const QString echo = QString::fromUtf8(child.readAllStandardOutput());
        const QRegularExpression echoShape(
            QStringLiteral("^\\d\\d:\\d\\d:\\d\\d WARNING \nschema request/x.proto missing\n$"));
        QVERIFY2(echoShape.match(echo).hasMatch(), qPrintable(echo));
    }
};

int main(int argc, char** argv)
{
    if (!qEnvironmentVariableIsEmpty(kChildVariable)) {
        installLogHandler(true, true); // with the console echo
        fatalExit(QStringLiteral("schema request/x.proto missing"));
    }
    QCoreApplication app(argc, argv);
    TestShellFunctions test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_shellfunctions.moc"
