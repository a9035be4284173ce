#pragma once

#include <QMutex>
#include <QMutexLocker>
#include <QRegularExpression>
#include <QStringList>
#include <QtGlobal>

// Collects the application's log messages (any thread) while an instance is alive. Create it
// once Qt Test has installed its own handler (initTestCase or later), so ours goes on top.
class LogCapture
{
public:
    LogCapture()
    {
        clear();
        s_previous = qInstallMessageHandler(&LogCapture::handle);
    }
    ~LogCapture() { qInstallMessageHandler(s_previous); }

    static QStringList lines()
    {
        QMutexLocker lock(&s_mutex);
        return s_lines;
    }
    static void clear()
    {
        QMutexLocker lock(&s_mutex);
        s_lines.clear();
    }
    static QStringList linesStartingWith(const QString& prefix)
    {
        return lines().filter(QRegularExpression(QLatin1Char('^') + QRegularExpression::escape(prefix)));
    }
    static int count(const QString& fragment) { return lines().filter(fragment).size(); }
    static bool contains(const QString& fragment) { return count(fragment) > 0; }
    static inline bool muted = false; // long loops of refused requests would fill memory

private:
    static void handle(QtMsgType, const QMessageLogContext&, const QString& text)
    {
        QMutexLocker lock(&s_mutex);
        if (!muted)
            s_lines.append(text);
    }

    static inline QMutex s_mutex;
    static inline QStringList s_lines;
    static inline QtMessageHandler s_previous = nullptr;
};
