#include "app/CrashReporter.h"

// Placeholder until the crash handler writes reports.
CrashReporter::CrashReporter(const QString& database, const QString& application, const std::wstring& version,
                             const wchar_t*, unsigned int flags)
    : m_database(database), m_application(application), m_version(QString::fromStdWString(version)),
      m_flags(flags)
{
}

CrashReporter::~CrashReporter() = default;

void CrashReporter::setGuardByteBufferSize(std::size_t bytes) { m_guardBytes = bytes; }
void CrashReporter::setDefaultUserName(const QString& name) { m_userName = name; }
void CrashReporter::setDefaultUserEmail(const QString& email) { m_userEmail = email; }
void CrashReporter::setDefaultUserDescription(const QString& description) { m_userDescription = description; }

QString CrashReporter::writeSelfTestReport()
{
    return QString();
}
