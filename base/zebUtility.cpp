#include "base/zebUtility.h"

#include "base/MuSettings.h"

#include <QDebug>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QMap>
#include <QNetworkInterface>
#include <QRegExp>
#include <QRegExpValidator>
#include <QSaveFile>
#include <QTimer>
#include <QUrlQuery>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <cerrno>
#include <sys/utsname.h>
#endif

namespace zebUtility {

namespace {

InterfaceSource& interfaceSource()
{
    static InterfaceSource source;
    return source;
}

// "[zebUtility::checkImageSize][<what>]:", logged unquoted before the quoted path.
QByteArray tagged(const char* what)
{
    return QStringLiteral("[%1][%2]:")
        .arg(QStringLiteral("zebUtility::checkImageSize"), QLatin1String(what))
        .toUtf8();
}

} // namespace

void setInterfaceSource(InterfaceSource source)
{
    interfaceSource() = std::move(source);
}

QList<InterfaceRecord> systemInterfaces()
{
    QList<InterfaceRecord> records;
    const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface& iface : interfaces) {
        InterfaceRecord record;
        record.name = iface.humanReadableName();
        record.hardwareAddress = iface.hardwareAddress();
        record.isLoopback = iface.flags().testFlag(QNetworkInterface::IsLoopBack);
        records.append(record);
    }
    return records;
}

QString macAddress()
{
    const QList<InterfaceRecord> interfaces = interfaceSource() ? interfaceSource()() : systemInterfaces();
    QString result;
    for (const InterfaceRecord& iface : interfaces) {
        if (iface.isLoopback)
            continue;
        if (iface.name.contains(QLatin1String("VMware"), Qt::CaseInsensitive))
            continue;
        result = iface.hardwareAddress;
        break;
    }
    qInfo().noquote() << QStringLiteral("MAC====") + result;
    return result;
}

QString signedQuery(const QList<QPair<QString, QString>>& pairs, const QString& key)
{
    QMap<QString, QString> sorted;
    for (const auto& pair : pairs)
        sorted.insert(pair.first, pair.second);

    QUrlQuery query;
    for (auto it = sorted.constBegin(); it != sorted.constEnd(); ++it)
        query.addQueryItem(it.key(), it.value());
    const QString sign = MuSettings::md5Hex(query.query() + key);

    query.clear();
    for (const auto& pair : pairs)
        query.addQueryItem(pair.first, pair.second);
    query.addQueryItem(QStringLiteral("sign"), sign);
    return query.query();
}

bool checkImageSize(const QString& path, const QSize& largest)
{
    if (path.isEmpty())
        return false;
    if (path == QLatin1String(":/default.jpg"))
        return true;
    if (!QFileInfo::exists(path)) {
        qInfo() << tagged("file not exist").constData() << path;
        return false;
    }

    QImageReader reader(path);
    reader.setDecideFormatFromContent(true);
    if (!reader.canRead()) {
        qInfo() << tagged("file cant read").constData() << path;
        return false;
    }
    QByteArray format = reader.format();
    const QImage image = reader.read();
    if (image.isNull()) {
        qInfo() << tagged("file cant read").constData() << path;
        return false;
    }
    if (image.width() <= largest.width() && image.height() <= largest.height())
        return true;
    if (largest.width() <= 0 || largest.height() <= 0)
        return false; // nothing fits: keep the file rather than write an empty image over it

    if (format == "gif")
        format = "png";
    const QImage scaled = image.scaled(largest, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    // Written beside the original and renamed over it, so a failed write never leaves a
    // truncated picture behind.
    QSaveFile file(path);
    bool saved = file.open(QIODevice::WriteOnly) && scaled.save(&file, format.constData());
    if (saved)
        saved = file.commit();
    else
        file.cancelWriting();
    if (!saved)
        qInfo() << tagged("image save failed").constData() << path;
    return saved;
}

void formatCount(qint64 count, QString& out)
{
    out.clear();
    if (count < 0)
        count = 0;
    if (count >= 100000000)
        out.append(QStringLiteral("%1E票").arg(QString::asprintf("%.2f", double(count) / 100000000.0)));
    else if (count >= 10000)
        out.append(QStringLiteral("%1W票").arg(QString::asprintf("%.2f", double(count) / 10000.0)));
    else
        out.append(QStringLiteral("%1票").arg(count));
}

QStringList listFiles(const QString& folder, const QStringList& nameFilters)
{
    QDir dir(folder);
    if (folder.isEmpty() || !dir.exists())
        return {};
    return dir.entryList(nameFilters, QDir::Files | QDir::NoSymLinks);
}

QString versionFromKernelRelease(const QString& release)
{
    int parts[3] = {0, 0, 0};
    int index = 0;
    bool any = false;
    for (const QChar c : release) {
        if (c.isDigit() && c.unicode() < 128) {
            parts[index] = parts[index] * 10 + (c.unicode() - '0');
            if (parts[index] > 0xFFFF)
                return QString();
            any = true;
        } else if (c == QLatin1Char('.') && any && index < 2) {
            ++index;
        } else {
            break;
        }
    }
    if (!any)
        return QString();
    return QStringLiteral("%1.%2.%3").arg(parts[0]).arg(parts[1]).arg(parts[2]);
}

namespace {

QString computeSystemVersion()
{
#ifdef Q_OS_WIN
    using RtlGetNtVersionNumbersFn = void(WINAPI*)(DWORD*, DWORD*, DWORD*);
    HMODULE ntdll = LoadLibraryW(L"ntdll.dll");
    if (!ntdll) {
        qInfo() << "getWindowsVersion LoadLibraryW fail" << GetLastError();
        return QStringLiteral("unknown");
    }
    auto fn = reinterpret_cast<RtlGetNtVersionNumbersFn>(GetProcAddress(ntdll, "RtlGetNtVersionNumbers"));
    if (!fn) {
        qInfo() << "getWindowsVersion GetProcAddress fail" << GetLastError();
        return QStringLiteral("unknown");
    }
    DWORD major = 0, minor = 0, build = 0;
    fn(&major, &minor, &build);
    return QStringLiteral("%1.%2.%3").arg(major).arg(minor).arg(build & 0xFFFF);
#else
    struct utsname name = {};
    if (::uname(&name) != 0) {
        qInfo() << "getWindowsVersion uname fail" << errno;
        return QStringLiteral("unknown");
    }
    const QString version = versionFromKernelRelease(QString::fromLocal8Bit(name.release));
    return version.isEmpty() ? QStringLiteral("unknown") : version;
#endif
}

} // namespace

QString getWindowsVersion()
{
    static const QString cached = computeSystemVersion(); // thread-safe, computed once
    return cached;
}

void waitMs(int milliseconds)
{
    QEventLoop loop;
    // A negative time would never start the timer and block forever.
    QTimer::singleShot(qMax(0, milliseconds), &loop, &QEventLoop::quit);
    loop.exec();
}

bool isPhoneNumber(const QString& text)
{
    const QRegExp pattern(QStringLiteral("^1([358][0-9]|4[579]|66|7[0135678]|9[89])[0-9]{8}$"),
                          Qt::CaseSensitive);
    QRegExpValidator validator(pattern);
    QString copy = text;
    int position = 0;
    return validator.validate(copy, position) == QValidator::Acceptable;
}

} // namespace zebUtility
