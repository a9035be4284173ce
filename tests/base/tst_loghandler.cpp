#include "base/LogHandler.h"
#include "base/VClock.h"

#include "support/TestEnv.h"

#include <QtTest>

// The log handler replaces the test framework's own handler for the length of each test.
class TestLogHandler : public QObject
{
    Q_OBJECT

    QtMessageHandler m_testHandler = nullptr;
    QScopedPointer<TestEnv::ScopedWorkDir> m_dir;
    static void setTime(const QDateTime& at)
    {
        VClock::setWallClock([=] { return at; });
    }

private slots:
    void init()
    {
        m_dir.reset(new TestEnv::ScopedWorkDir);
        m_testHandler = qInstallMessageHandler(nullptr);
        setTime(QDateTime(QDate(2026, 3, 4), QTime(12, 34, 56)));
    }
    void cleanup()
    {
        qInstallMessageHandler(m_testHandler);
        VClock::setWallClock({});
        m_dir.reset();
    }

    // With the debug-including handler and with the one that drops debug messages.
    void entryLayoutAndLevels()
    {
        for (const bool withDebug : {true, false}) {
            TestEnv::ScopedWorkDir dir;
            QVERIFY(TestEnv::writeFile("log/valog_2026-03-04.txt", "earlier run\r\n"));
            installLogHandler(withDebug, false);
            qDebug("debug");
            qCritical("critical never written");
            qWarning() << "count" << 3;
            qInfo().noquote() << "line one\nline two %1 %6"; // the message's own breaks and placeholders
            // Called directly: through qFatal the process would end after the handler.
            (withDebug ? LogHandler::handlerWithDebug
                       : LogHandler::handlerWithoutDebug)(QtFatalMsg, QMessageLogContext(), "fatal");
            QCOMPARE(TestEnv::readText("log/valog_2026-03-04.txt"),
                     QString("earlier run\r\n") + (withDebug ? "12:34:56 DEBUG \ndebug\r\n" : "") +
                         "12:34:56 WARNING \ncount 3\r\n"
                         "12:34:56 INFO \nline one\nline two %1 %6\r\n12:34:56 FATAL \nfatal\r\n");
        }
    }

    void dayChangeAndMissingOrBlockedFolder()
    {
        installLogHandler(true, false);
        qInfo("deleted");
        QVERIFY(QDir("log").removeRecursively());
        qInfo("before midnight");
        setTime(QDateTime(QDate(2026, 3, 5), QTime(0, 0, 1)));
        qInfo("after midnight");
        QCOMPARE(TestEnv::readText("log/valog_2026-03-04.txt"),
                 QStringLiteral("12:34:56 INFO \nbefore midnight\r\n"));
        QCOMPARE(TestEnv::readText("log/valog_2026-03-05.txt"),
                 QStringLiteral("00:00:01 INFO \nafter midnight\r\n"));
        // A plain file where the folder belongs: messages are dropped quietly.
        QVERIFY(QDir("log").removeRecursively() && QFile("log").open(QIODevice::WriteOnly));
        qInfo("dropped");
        QCOMPARE(QFileInfo("log").size(), 0);
    }
};

QTEST_GUILESS_MAIN(TestLogHandler)
#include "tst_loghandler.moc"
