#include "app/CrashReporter.h"

#include "support/TestEnv.h"

#include <QDir>
#include <QProcess>
#include <QtTest>

#include <csignal>
#include <cstdlib>
#include <sys/resource.h>

// The test binary doubles as the crashing child: started with TAVIO_CRASH_CHILD set, it registers
// a reporter in its working directory and then crashes the way the variable says.
namespace {

const char kChildVariable[] = "TAVIO_CRASH_CHILD";

CrashReporter* makeReporter()
{
    auto* reporter = new CrashReporter(QStringLiteral("hollin"), QStringLiteral("VozedIvazerida"), L"1.2.3.4",
                                       nullptr, 0x2010u);
    reporter->setGuardByteBufferSize(0x1400000);
    reporter->setDefaultUserName(QStringLiteral("名字"));
    reporter->setDefaultUserEmail(QStringLiteral("邮箱"));
    reporter->setDefaultUserDescription(QStringLiteral("这个问题是怎么触发的"));
    return reporter;
}

// Kept out of line and unsanitised so the child really faults on the null pointer.
__attribute__((noinline, no_sanitize("undefined"))) void crashByNullDereference()
{
    volatile int* volatile nowhere = nullptr; // read back at run time, so the store is really made
    *nowhere = 42;
}

// Endless recursion that the optimiser cannot turn into a loop: the stack runs out.
volatile bool g_keepRecursing = true;

__attribute__((noinline)) int recurseForever(int depth)
{
    volatile char frame[512];
    frame[0] = char(depth);
    if (!g_keepRecursing)
        return frame[0];
    return recurseForever(depth + 1) + frame[0];
}

int runCrashingChild(const QByteArray& how)
{
    const rlimit noCore = {0, 0};
    setrlimit(RLIMIT_CORE, &noCore); // no core file in the test folder
    makeReporter();
    if (how == "segv")
        crashByNullDereference();
    else if (how == "abort")
        std::abort();
    else if (how == "overflow")
        return recurseForever(0);
    return 3; // not reached
}

QStringList reports(const QString& folder)
{
    return QDir(folder + QStringLiteral("/crash")).entryList({QStringLiteral("crash_*.txt")}, QDir::Files);
}

struct ChildResult
{
    QProcess::ExitStatus status = QProcess::NormalExit;
    int code = 0;
    QString report;
};

ChildResult runChild(const QString& folder, const char* how)
{
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QString::fromLatin1(kChildVariable), QString::fromLatin1(how));
    child.setProcessEnvironment(env);
    child.setWorkingDirectory(folder);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), QStringList());
    ChildResult result;
    if (!child.waitForFinished(120000))
        return result;
    result.status = child.exitStatus();
    result.code = child.exitCode();
    const QStringList names = reports(folder);
    if (names.size() == 1)
        result.report = TestEnv::readText(folder + QStringLiteral("/crash/") + names.first());
    return result;
}

} // namespace

class TestCrashReporter : public QObject
{
    Q_OBJECT

private slots:
    void selfTestReportDescribesTheProcessAndLeavesItRunning()
    {
        TestEnv::ScopedWorkDir dir;
        QScopedPointer<CrashReporter> reporter(makeReporter());
        QCOMPARE(reporter->reportDirectory(), QDir(dir.path()).absoluteFilePath(QStringLiteral("crash")));
        const QString path = reporter->writeSelfTestReport();
        QVERIFY(!path.isEmpty());
        QCOMPARE(QFileInfo(path).absolutePath(), QDir(dir.path()).absoluteFilePath(QStringLiteral("crash")));
        const QString report = TestEnv::readText(path);
        QVERIFY(report.contains(
            QRegularExpression(QStringLiteral("time: \\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\n"))));
        QVERIFY(report.contains(QStringLiteral("database: hollin\n")));
        QVERIFY(report.contains(QStringLiteral("application: VozedIvazerida\n")));
        QVERIFY(report.contains(QStringLiteral("version: 1.2.3.4\n")));
        QVERIFY(report.contains(QStringLiteral("flags: 0x2010\n")));
        QVERIFY(report.contains(QStringLiteral("signal: none")));
        QVERIFY(report.contains(QStringLiteral("user name: 名字\n")));
        QVERIFY(report.contains(QStringLiteral("user email: 邮箱\n")));
        QVERIFY(report.contains(QStringLiteral("user description: 这个问题是怎么触发的\n")));
        // Symbolised: the frames name our functions, not just addresses.
        QVERIFY2(report.contains(QStringLiteral("CrashReporter::writeSelfTestReport")), qPrintable(report));

        // A second report does not overwrite the first.
        const QString second = reporter->writeSelfTestReport();
        QVERIFY(second != path);
        QCOMPARE(reports(dir.path()).size(), 2);
    }

    void unwritableFolderGivesNoReportAndNoHarm()
    {
        TestEnv::ScopedWorkDir dir;
        QFile blocker(QStringLiteral("crash"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        QScopedPointer<CrashReporter> reporter(makeReporter());
        QCOMPARE(reporter->writeSelfTestReport(), QString());
    }

    void previousHandlersComeBackWhenDestroyed()
    {
        TestEnv::ScopedWorkDir dir;
        struct sigaction before = {};
        sigaction(SIGSEGV, nullptr, &before);
        {
            QScopedPointer<CrashReporter> reporter(makeReporter());
            struct sigaction during = {};
            sigaction(SIGSEGV, nullptr, &during);
            QVERIFY(during.sa_flags & SA_SIGINFO);
            QVERIFY(during.sa_sigaction != before.sa_sigaction);
        }
        struct sigaction after = {};
        sigaction(SIGSEGV, nullptr, &after);
        QVERIFY(after.sa_sigaction == before.sa_sigaction);
    }

    void nullDereferenceWritesReportAndDiesBySegv()
    {
        TestEnv::ScopedWorkDir dir;
        const ChildResult result = runChild(dir.path(), "segv");
        QCOMPARE(result.status, QProcess::CrashExit);
        QCOMPARE(result.code, SIGSEGV);
        QVERIFY2(result.report.contains(QStringLiteral("signal: 11 (SIGSEGV)\n")), qPrintable(result.report));
        QVERIFY(result.report.contains(QStringLiteral("fault address: (nil)")) ||
                result.report.contains(QStringLiteral("fault address: 0x0\n")));
        QVERIFY2(result.report.contains(QStringLiteral("crashByNullDereference")), qPrintable(result.report));
        QVERIFY(result.report.contains(QStringLiteral("user description: 这个问题是怎么触发的\n")));
    }

    void stackOverflowIsReportedFromTheSignalStack()
    {
        TestEnv::ScopedWorkDir dir;
        const ChildResult result = runChild(dir.path(), "overflow");
        QCOMPARE(result.status, QProcess::CrashExit);
        QCOMPARE(result.code, SIGSEGV);
        QVERIFY2(result.report.contains(QStringLiteral("recurseForever")), qPrintable(result.report));
        QVERIFY(result.report.contains(QStringLiteral("user email: 邮箱\n")));
    }

    void abortWritesReportAndDiesByAbort()
    {
        TestEnv::ScopedWorkDir dir;
        const ChildResult result = runChild(dir.path(), "abort");
        QCOMPARE(result.status, QProcess::CrashExit);
        QCOMPARE(result.code, SIGABRT);
        QVERIFY2(result.report.contains(QStringLiteral("signal: 6 (SIGABRT)\n")), qPrintable(result.report));
        QVERIFY(result.report.contains(QStringLiteral("version: 1.2.3.4\n")));
    }
};

int main(int argc, char** argv)
{
    const QByteArray how = qgetenv(kChildVariable);
    if (!how.isEmpty())
        return runCrashingChild(how);
    QCoreApplication app(argc, argv);
    TestCrashReporter test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_crashreporter.moc"
