#pragma once

#include <QMutex>
#include <QMutexLocker>
#include <QString>
#include <QStringList>
#include <QtGlobal>

// Collects every Qt message of the process while alive so that tests can check the log lines.
class SessionLogCapture
{
public:
    SessionLogCapture() { s_previous = qInstallMessageHandler(&SessionLogCapture::handle); }
    ~SessionLogCapture() { qInstallMessageHandler(s_previous); }

    static QStringList lines()
    {
        QMutexLocker locker(&s_mutex);
        return s_lines;
    }
    static void clear()
    {
        QMutexLocker locker(&s_mutex);
        s_lines.clear();
    }
    static int count(const QString& fragment)
    {
        int found = 0;
        for (const QString& line : lines())
            found += line.contains(fragment) ? 1 : 0;
        return found;
    }
    static bool has(const QString& fragment) { return count(fragment) > 0; }
    // Long loops of refused requests would otherwise fill memory with their log lines.
    static void setMuted(bool muted) { s_muted = muted; }

private:
    static void handle(QtMsgType, const QMessageLogContext&, const QString& text)
    {
        if (s_muted)
            return;
        QMutexLocker locker(&s_mutex);
        s_lines.append(text);
    }

    static inline QtMessageHandler s_previous = nullptr;
    static inline QMutex s_mutex;
    static inline QStringList s_lines;
    static inline bool s_muted = false;
};
