#include "support/TestEnv.h"

#include <QDir>
#include <QFile>

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

} // namespace TestEnv
