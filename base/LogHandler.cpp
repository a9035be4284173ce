#include "base/LogHandler.h"

#include "base/VClock.h"

#include <QDir>
#include <QFile>
#include <QMutex>
#include <QMutexLocker>
#include <QTextStream>

#include <atomic>
#include <cstdio>

namespace {

QMutex& handlerLock()
{
    static QMutex lock; // non-recursive, first use is the first message
    return lock;
}

std::atomic<bool> g_echoToConsole{false};

// Guarded by handlerLock(). The program goes on without a log, but says once where and why.
bool g_failureReported = false;

void reportFailureOnce(const QString& path, const QString& reason)
{
    if (g_failureReported)
        return;
    g_failureReported = true;
    const QByteArray line = QStringLiteral("log: cannot write %1 (%2); going on without a log\n")
                                .arg(QDir::current().absoluteFilePath(path), reason)
                                .toLocal8Bit();
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
    std::fflush(stderr);
}

} // namespace

void LogHandler::install(bool keepDebug, bool echoToConsole)
{
    g_echoToConsole = echoToConsole;
    qInstallMessageHandler(keepDebug ? &LogHandler::handlerWithDebug : &LogHandler::handlerWithoutDebug);
}

void LogHandler::handlerWithDebug(QtMsgType type, const QMessageLogContext&, const QString& text)
{
    handle(type, text, true);
}

void LogHandler::handlerWithoutDebug(QtMsgType type, const QMessageLogContext&, const QString& text)
{
    handle(type, text, false);
}

QString LogHandler::fileNameFor(const QDateTime& when)
{
    return QStringLiteral("log/valog_%1.txt").arg(when.toString(QStringLiteral("yyyy-MM-dd")));
}

void LogHandler::handle(QtMsgType type, const QString& text, bool includeDebug)
{
    QString entry;
    {
        QMutexLocker locker(&handlerLock());

        QString level;
        switch (type) {
        case QtDebugMsg:
            if (!includeDebug)
                return;
            level = QStringLiteral("DEBUG");
            break;
        case QtInfoMsg:
            level = QStringLiteral("INFO");
            break;
        case QtWarningMsg:
            level = QStringLiteral("WARNING");
            break;
        case QtCriticalMsg:
            return; // critical messages are never written
        case QtFatalMsg:
            level = QStringLiteral("FATAL");
            break;
        }

        const QDateTime now = VClock::now();
        entry = QStringLiteral("%1 %2 \n%6").arg(now.toString(QStringLiteral("hh:mm:ss")), level, text);

        QDir current(QStringLiteral("./"));
        if (!current.exists(QStringLiteral("log")) && !current.mkdir(QStringLiteral("log"))) {
            reportFailureOnce(QStringLiteral("log"), QStringLiteral("cannot create the folder"));
            return;
        }

        // The date is taken per message, so the file changes at local midnight.
        QFile file(fileNameFor(now));
        if (file.open(QIODevice::ReadWrite | QIODevice::Append)) {
            QTextStream stream(&file);
            stream << entry << "\r\n";
            stream.flush();
            if (stream.status() != QTextStream::Ok || file.error() != QFileDevice::NoError)
                reportFailureOnce(file.fileName(), file.errorString());
            file.close();
        } else {
            reportFailureOnce(file.fileName(), file.errorString());
        }
    }

    if (g_echoToConsole) {
        const QByteArray local = entry.toLocal8Bit();
        std::fwrite(local.constData(), 1, size_t(local.size()), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    }
}

void installLogHandler(bool keepDebug, bool echoToConsole)
{
    LogHandler::install(keepDebug, echoToConsole);
}
