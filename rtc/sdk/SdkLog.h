#pragma once

#include <QFile>
#include <QMutex>
#include <QString>
#include <QStringList>

namespace agora {
namespace rtc {

// The SDK's own log file (set by IRtcEngine::setLogFile): one timestamped line per event,
// written from any thread. The lines before the first file is set (initialize runs before
// the caller names one) are kept, up to a limit, and open that file.
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
    static constexpr int kMaxEarlyLines = 64;

    mutable QMutex m_mutex;
    QFile m_file;
    QStringList m_earlyLines;
    bool m_hadFile = false;
};

} // namespace rtc
} // namespace agora
