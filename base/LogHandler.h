#pragma once

#include <QDateTime>
#include <QString>
#include <QtGlobal>

// Process-wide Qt message handler: appends every message to "log/valog_<date>.txt" in the
// current directory, one file per local calendar day.
class LogHandler
{
public:
    // Installs the debug-including or the debug-dropping entry point.
    static void install(bool keepDebug, bool echoToConsole);

    // The two entry points with Qt's handler signature.
    static void handlerWithDebug(QtMsgType type, const QMessageLogContext& context, const QString& text);
    static void handlerWithoutDebug(QtMsgType type, const QMessageLogContext& context, const QString& text);

    // The file the handler writes to at the given moment (relative to the current directory).
    static QString fileNameFor(const QDateTime& when);

private:
    static void handle(QtMsgType type, const QString& text, bool includeDebug);
};

// The start-up entry point (keep debug, echo to console).
void installLogHandler(bool keepDebug, bool echoToConsole);
