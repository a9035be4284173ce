#pragma once

#include <QList>
#include <QPair>
#include <QSize>
#include <QString>
#include <QStringList>

#include <functional>

// Small stateless helpers of the shell.
namespace zebUtility {

// What macAddress looks at of one network interface (the system's list is converted into these,
// so tests can hand in a list of their own).
struct InterfaceRecord
{
    QString name;            // human-readable name
    QString hardwareAddress; // colon-separated hexadecimal byte pairs
    bool isLoopback = false;
};
using InterfaceSource = std::function<QList<InterfaceRecord>()>;

// Hardware address of the first non-loopback interface whose name has no "VMware" (any case);
// empty when there is none.
QString macAddress();
// Tests replace the interface list; an empty function restores the system's.
void setInterfaceSource(InterfaceSource source);
// The system's interfaces in the order the operating system reports them.
QList<InterfaceRecord> systemInterfaces();

// Signs the key-sorted parameters with the key; the returned query keeps the caller's order and
// ends with "sign=<md5>".
QString signedQuery(const QList<QPair<QString, QString>>& pairs, const QString& key);

// Shrinks the image file in place to fit inside largest (keeping the aspect ratio).
bool checkImageSize(const QString& path, const QSize& largest);
// "12票", "1.23W票", "4.56E票"; negative counts count as 0.
void formatCount(qint64 count, QString& out);
// Plain files (no symbolic links) of the folder, restricted to the filters when there are any.
QStringList listFiles(const QString& folder, const QStringList& nameFilters);
// Operating-system version "major.minor.build", computed once; "unknown" when unavailable.
QString getWindowsVersion();
// Parses the leading "major.minor.build" of a kernel release text such as "6.1.0-18-amd64".
QString versionFromKernelRelease(const QString& release);
// Runs a local event loop for the given time.
void waitMs(int milliseconds);
bool isPhoneNumber(const QString& text);

} // namespace zebUtility
