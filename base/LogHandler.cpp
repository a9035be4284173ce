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
        if (!current.exists(QStringLiteral("log")) && !current.mkdir(QStringLiteral("log")))
            return;

        // The date is taken per message, so the file changes at local midnight.
        QFile file(fileNameFor(now));
        if (file.open(QIODevice::ReadWrite | QIODevice::Append)) {
            QTextStream stream(&file);
            stream << entry << "\r\n";
            stream.flush();
            file.close();
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
