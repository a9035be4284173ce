#include "support/TestEnv.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>

namespace TestEnv {

QByteArray readBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

bool pactl(const QStringList& arguments, QString* output)
{
    QProcess process;
    process.start(QStringLiteral("pactl"), arguments);
    const bool ok = process.waitForFinished(10000) && process.exitCode() == 0;
    if (ok && output)
        *output = QString::fromUtf8(process.readAllStandardOutput()).trimmed();
    return ok;
}

} // namespace TestEnv
