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
    return m_file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text);
}

QString SdkLog::filePath() const
{
    QMutexLocker lock(&m_mutex);
    return m_file.isOpen() ? m_file.fileName() : QString();
}

void SdkLog::write(const QString& line)
{
    QMutexLocker lock(&m_mutex);
    if (!m_file.isOpen())
        return;
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
    m_file.write((stamp + QLatin1Char(' ') + line + QLatin1Char('\n')).toUtf8());
    m_file.flush();
}

} // namespace rtc
} // namespace agora
