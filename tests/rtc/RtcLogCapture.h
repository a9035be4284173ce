#pragma once

#include <QMutex>
#include <QMutexLocker>
#include <QStringList>
#include <QtGlobal>

// Collects the application's log messages (any thread) for the lifetime of the object.
class RtcLogCapture
{
public:
    RtcLogCapture()
    {
        clear();
        s_previous = qInstallMessageHandler(&RtcLogCapture::handle);
    }
    ~RtcLogCapture() { qInstallMessageHandler(s_previous); }

    static QStringList lines()
    {
        QMutexLocker lock(&mutex());
        return store();
    }
    static void clear()
    {
        QMutexLocker lock(&mutex());
        store().clear();
    }
    // Lines that start with the given text.
    static QStringList linesStartingWith(const QString& prefix)
    {
        QStringList found;
        for (const QString& line : lines()) {
            if (line.startsWith(prefix))
                found.append(line);
        }
        return found;
    }

private:
    static void handle(QtMsgType, const QMessageLogContext&, const QString& text)
    {
        QMutexLocker lock(&mutex());
        store().append(text);
    }
    static QMutex& mutex()
    {
        static QMutex m;
        return m;
    }
    static QStringList& store()
    {
        static QStringList s;
        return s;
    }
    static inline QtMessageHandler s_previous = nullptr;
};
