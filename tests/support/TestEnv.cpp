#include "support/TestEnv.h"

#include <QDir>
#include <QFile>
#include <QProcess>

namespace TestEnv {

ScopedWorkDir::ScopedWorkDir() : m_previous(QDir::currentPath())
{
    if (m_dir.isValid())
        QDir::setCurrent(m_dir.path());
}

ScopedWorkDir::~ScopedWorkDir()
{
    QDir::setCurrent(m_previous);
}

QString readText(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(f.readAll());
}

QString peer(const char* name)
{
    return qEnvironmentVariable(name);
}

bool peersRequired()
{
    return qEnvironmentVariable("TAVIO_REQUIRE_PEERS") == QLatin1String("1");
}

bool pactl(const QStringList& arguments, QString* output)
{
    QProcess process;
    process.start(QStringLiteral("pactl"), arguments);
    if (!process.waitForFinished(10000) || process.exitCode() != 0)
        return false;
    if (output)
        *output = QString::fromUtf8(process.readAllStandardOutput()).trimmed();
    return true;
}

} // namespace TestEnv
