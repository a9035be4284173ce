#pragma once

#include <QNetworkInterface>
#include <QPair>
#include <QString>
#include <QStringList>

#include <functional>

// Small stateless helpers of the shell.
namespace zebUtility {

// Hardware address of the first non-loopback interface whose name has no "VMware".
QString macAddress();
// Tests replace the interface list; an empty function restores the system's.
void setInterfaceSource(std::function<QList<QNetworkInterface>()> source);

// Signs the key-sorted parameters with the key; the query keeps the caller's order.
QString signedQuery(const QList<QPair<QString, QString>>& pairs, const QString& key);

bool checkImageSize(const QString& path, const QSize& largest);
void formatCount(qint64 count, QString& out);
QStringList listFiles(const QString& folder, const QStringList& nameFilters);
QString getWindowsVersion();
void waitMs(int milliseconds);
bool isPhoneNumber(const QString& text);

} // namespace zebUtility
