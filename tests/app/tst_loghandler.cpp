#include "app/LogHandler.h"

#include "support/TestEnv.h"

#include <QDir>
#include <QFile>
#include <QThread>
#include <QtTest>

namespace {

QByteArray readBytes(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

const QDateTime kNoon(QDate(2026, 3, 4), QTime(12, 34, 56));

} // namespace

// The log handler replaces the test framework's own handler for the length of each test.
class TestLogHandler : public QObject
{
    Q_OBJECT

private:
    QtMessageHandler m_testHandler = nullptr;
    TestEnv::ScopedWorkDir* m_dir = nullptr;

private slots:
    void init()
    {
        m_dir = new TestEnv::ScopedWorkDir;
        m_testHandler = qInstallMessageHandler(nullptr);
        LogHandler::setClock([] { return kNoon; });
        installLogHandler(true, false);
    }

    void cleanup()
    {
        qInstallMessageHandler(m_testHandler);
        LogHandler::setClock({});
        delete m_dir;
        m_dir = nullptr;
    }

    void entryLayoutIsExact()
    {
        qInfo("hello");
        qWarning() << "count" << 3;
        QCOMPARE(readBytes(QStringLiteral("log/valog_2026-03-04.txt")),
                 QByteArray("12:34:56 INFO \nhello\r\n"
                            "12:34:56 WARNING \ncount 3\r\n"));
    }

    void levelsWrittenOrDropped()
    {
        qDebug("debug kept");
        qCritical("critical never written");
        const QMessageLogContext context;
        // Called directly: through qFatal the process would end after the handler.
        LogHandler::handlerWithDebug(QtFatalMsg, context, QStringLiteral("fatal text"));
        QCOMPARE(readBytes(QStringLiteral("log/valog_2026-03-04.txt")),
                 QByteArray("12:34:56 DEBUG \ndebug kept\r\n"
                            "12:34:56 FATAL \nfatal text\r\n"));
    }

    void debugDroppedByTheDebugDroppingHandler()
    {
        installLogHandler(false, false);
        qDebug("not written");
        qInfo("written");
        QCOMPARE(readBytes(QStringLiteral("log/valog_2026-03-04.txt")),
                 QByteArray("12:34:56 INFO \nwritten\r\n"));
    }

    void messageTextWrittenUnchanged()
    {
        // Line breaks and placeholders in the message are the message's own.
        qInfo().noquote() << "line one\nline two %1 %2 %6";
        QCOMPARE(readBytes(QStringLiteral("log/valog_2026-03-04.txt")),
                 QByteArray("12:34:56 INFO \nline one\nline two %1 %2 %6\r\n"));
    }

    void midnightStartsANewFile()
    {
        LogHandler::setClock([] { return QDateTime(QDate(2026, 12, 31), QTime(23, 59, 59)); });
        qInfo("last of the year");
        LogHandler::setClock([] { return QDateTime(QDate(2027, 1, 1), QTime(0, 0, 1)); });
        qInfo("first of the year");
        QCOMPARE(readBytes(QStringLiteral("log/valog_2026-12-31.txt")),
                 QByteArray("23:59:59 INFO \nlast of the year\r\n"));
        QCOMPARE(readBytes(QStringLiteral("log/valog_2027-01-01.txt")),
                 QByteArray("00:00:01 INFO \nfirst of the year\r\n"));
    }

    void deletedDirectoryIsCreatedAgain()
    {
        qInfo("before");
        QVERIFY(QDir(QStringLiteral("log")).removeRecursively());
        qInfo("after");
        QCOMPARE(readBytes(QStringLiteral("log/valog_2026-03-04.txt")),
                 QByteArray("12:34:56 INFO \nafter\r\n"));
    }

    void unusableLogFolderDropsMessagesQuietly()
    {
        // A plain file where the folder should be: the folder can be neither used nor created.
        QFile blocker(QStringLiteral("log"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.write("not a folder");
        blocker.close();
        qInfo("dropped");
        qWarning("dropped too");
        QCOMPARE(readBytes(QStringLiteral("log")), QByteArray("not a folder"));
    }

    void appendsAcrossMessagesAndKeepsOldContent()
    {
        QVERIFY(QDir().mkdir(QStringLiteral("log")));
        QFile old(QStringLiteral("log/valog_2026-03-04.txt"));
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("earlier run\r\n");
        old.close();
        qInfo("this run");
        QCOMPARE(readBytes(QStringLiteral("log/valog_2026-03-04.txt")),
                 QByteArray("earlier run\r\n12:34:56 INFO \nthis run\r\n"));
    }

    void threadsNeverInterleaveWithinAnEntry()
    {
        constexpr int threadCount = 4;
        constexpr int perThread = 200;
        QList<QThread*> threads;
        for (int t = 0; t < threadCount; ++t) {
            threads.append(QThread::create([t] {
                for (int i = 0; i < perThread; ++i)
                    qInfo().noquote()
                        << QStringLiteral("thread %1 message %2 ").arg(t).arg(i) + QString(200, 'x');
            }));
        }
        for (QThread* thread : threads)
            thread->start();
        for (QThread* thread : threads) {
            QVERIFY(thread->wait(60000));
            delete thread;
        }
        const QList<QByteArray> entries = readBytes(QStringLiteral("log/valog_2026-03-04.txt")).split('\r');
        QCOMPARE(entries.size(), threadCount * perThread + 1); // the last piece is the final "\n"
        const QRegularExpression shape(QStringLiteral("^\n?12:34:56 INFO \nthread \\d message \\d+ x{200}$"));
        for (int i = 0; i < entries.size() - 1; ++i)
            QVERIFY2(shape.match(QString::fromLatin1(entries.at(i))).hasMatch(), entries.at(i).constData());
    }
};

QTEST_GUILESS_MAIN(TestLogHandler)
#include "tst_loghandler.moc"
