#pragma once

#include <QFile>
#include <QMutex>
#include <QString>

namespace agora {
namespace rtc {

// The SDK's own log file (set by IRtcEngine::setLogFile): one timestamped line per event,
// written from any thread. Lines before a file is set are dropped.
class SdkLog
{
public:
    SdkLog() = default;
    ~SdkLog();

    SdkLog(const SdkLog&) = delete;
    SdkLog& operator=(const SdkLog&) = delete;

    // Opens (appends to) the file; false when it cannot be opened (the previous file stays).
    bool setFile(const QString& path);
    QString filePath() const;
    void write(const QString& line);

private:
    mutable QMutex m_mutex;
    QFile m_file;
};

} // namespace rtc
} // namespace agora
