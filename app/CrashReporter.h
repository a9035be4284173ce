#pragma once

#include <QString>

#include <cstddef>

// Our crash handler, in the crash reporter's place in the start-up order: on a fatal signal it
// writes a report into the "crash" folder beside "log" and lets the process end as it would have.
class CrashReporter
{
public:
    CrashReporter(const QString& database, const QString& application, const std::wstring& version,
                  const wchar_t* appIdentifier, unsigned int flags);
    ~CrashReporter();

    void setGuardByteBufferSize(std::size_t bytes);
    void setDefaultUserName(const QString& name);
    void setDefaultUserEmail(const QString& email);
    void setDefaultUserDescription(const QString& description);

    // Writes a report of the current stack without harming the process; returns its path.
    QString writeSelfTestReport();

private:
    QString m_database;
    QString m_application;
    QString m_version;
    unsigned int m_flags = 0;
    std::size_t m_guardBytes = 0;
    QString m_userName;
    QString m_userEmail;
    QString m_userDescription;
};
