#include "rtc/sdk/SdkLog.h"

#include <QDateTime>
#include <QMutexLocker>

namespace agora {
namespace rtc {

SdkLog::~SdkLog()
{
    QMutexLocker lock(&m_mutex);
    m_file.close();
}

bool SdkLog::setFile(const QString& path)
{
    if (path.isEmpty())
        return false;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text))
        return false;
    file.close();
    QMutexLocker lock(&m_mutex);
    m_file.close();
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text))
        return false;
    m_hadFile = true;
    for (const QString& line : qAsConst(m_earlyLines))
        m_file.write(line.toUtf8());
    m_earlyLines.clear();
    m_file.flush();
    return true;
}

QString SdkLog::filePath() const
{
    QMutexLocker lock(&m_mutex);
    return m_file.isOpen() ? m_file.fileName() : QString();
}

void SdkLog::write(const QString& line)
{
    QMutexLocker lock(&m_mutex);
    if (!m_file.isOpen() && (m_hadFile || m_earlyLines.size() >= kMaxEarlyLines))
        return;
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
    const QString entry = stamp + QLatin1Char(' ') + line + QLatin1Char('\n');
    if (!m_file.isOpen()) {
        m_earlyLines << entry;
        return;
    }
    m_file.write(entry.toUtf8());
    m_file.flush();
}

} // namespace rtc
} // namespace agora
