#include "base/CrashReporter.h"

#include "support/TestEnv.h"

#include <QtTest>

#include <csignal>
#include <cstdlib>
#include <sys/resource.h>

// The test binary doubles as the crashing child: started with TAVIO_CRASH_CHILD set, it registers
// a reporter in its working directory and then crashes the way the variable says.
namespace {

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
    return g_keepRecursing ? recurseForever(depth + 1) + frame[0] : frame[0];
}

int runCrashingChild(const QByteArray& how)
{
    const rlimit noCore = {0, 0};
    setrlimit(RLIMIT_CORE, &noCore); // no core file in the test folder
    auto* reporter = new CrashReporter("hollin", "VozedIvazerida", L"1.2.3.4", nullptr, 0x2010u);
    reporter->setGuardByteBufferSize(0x1400000);
    reporter->setDefaultUserName("名字");
    reporter->setDefaultUserEmail("邮箱");
    reporter->setDefaultUserDescription("这个问题是怎么触发的");
    if (how == "segv")
        crashByNullDereference();
    else if (how == "abort")
        std::abort();
    return recurseForever(0);
}

} // namespace

class TestCrashReporter : public QObject
{
    Q_OBJECT

private slots:
    // The frame names our function: the backtrace is symbolised (the overflow's from the handler's stack).
    void childCrashWritesReportAndDiesBySignal()
    {
        const QList<std::tuple<QByteArray, int, QString>> rows{{"segv", SIGSEGV, "crashByNullDereference"},
                                                               {"abort", SIGABRT, "runCrashingChild"},
                                                               {"overflow", SIGSEGV, "recurseForever"}};
        for (const auto& [how, signal, frame] : rows) {
            TestEnv::ScopedWorkDir dir;
            QProcess child;
            child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            qputenv("TAVIO_CRASH_CHILD", how); // the child inherits it
            child.start(QCoreApplication::applicationFilePath(), QStringList());
            qunsetenv("TAVIO_CRASH_CHILD");
            QVERIFY(child.waitForFinished(120000) && child.exitStatus() == QProcess::CrashExit);
            QCOMPARE(child.exitCode(), signal);
            const QStringList reports = QDir("crash").entryList({"crash_*.txt"}, QDir::Files);
            QCOMPARE(reports.size(), 1);
            const QString report = TestEnv::readText("crash/" + reports.first());
            QVERIFY(report.contains(QRegularExpression("time: \\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\n")));
            const QString name = signal == SIGSEGV ? "SIGSEGV" : "SIGABRT";
            const QString lines =
                "signal: " + QString::number(signal) + " (" + name + ")\n|" + frame +
                "|database: hollin\n|application: VozedIvazerida\n|version: 1.2.3.4\n|flags: "
                "0x2010\n|user name: 名字\n|user email: 邮箱\n|user description: 这个问题是怎么触发的\n";
            for (const QString& line : lines.split('|'))
                QVERIFY2(report.contains(line), qPrintable(line + "\n" + report));
        }
    }
};

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsSet("TAVIO_CRASH_CHILD"))
        return runCrashingChild(qgetenv("TAVIO_CRASH_CHILD"));
    QCoreApplication app(argc, argv);
    TestCrashReporter test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_crashreporter.moc"
