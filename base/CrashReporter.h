#pragma once

#include <QString>

#include <cstddef>
#include <string>

// Our crash handler, in the crash reporter's place in the start-up order. On a fatal signal
// (SIGSEGV, SIGABRT, SIGBUS, SIGFPE, SIGILL) it writes a report (time, version, signal, a
// symbolised backtrace and the user defaults) into the "crash" folder beside "log" in the current
// directory, then restores the default action and re-raises, so the process ends as it would have.
// The most recently constructed reporter is the one that handles signals.
class CrashReporter
{
public:
    CrashReporter(const QString& database, const QString& application, const std::wstring& version,
                  const wchar_t* appIdentifier, unsigned int flags);
    ~CrashReporter();

    CrashReporter(const CrashReporter&) = delete;
    CrashReporter& operator=(const CrashReporter&) = delete;

    // Memory reserved now and released when a crash is handled, so the report can still be
    // written when the process ran out of memory.
    void setGuardByteBufferSize(std::size_t bytes);
    void setDefaultUserName(const QString& name);
    void setDefaultUserEmail(const QString& email);
    void setDefaultUserDescription(const QString& description);

    // Writes a report of the current stack without harming the process; returns its path
    // (empty when it could not be written).
    QString writeSelfTestReport();

    // Absolute path of the folder the reports go to.
    QString reportDirectory() const { return QString::fromStdString(m_reportDir); }

    // Called from the signal handler; not for other use.
    void writeReport(int signalNumber, void* signalInfo, void* context);

private:
    std::string writeReportFile(int signalNumber, void* signalInfo, void* context);
    void renderText();

    QString m_database;
    QString m_application;
    QString m_version;
    QString m_appIdentifier;
    unsigned int m_flags = 0;
    std::size_t m_guardBytes = 0;
    void* m_guardBuffer = nullptr;
    QString m_userName;
    QString m_userEmail;
    QString m_userDescription;

    // Prepared outside the signal handler, which only copies them out.
    std::string m_reportDir;
    std::string m_headerText;
    std::string m_defaultsText;
};
