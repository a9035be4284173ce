#pragma once

#include <QDir>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// Shared by the tests: a private working directory (the program works in its current one) and peers.
namespace TestEnv {

class ScopedWorkDir
{
public:
    ScopedWorkDir() : m_previous(QDir::currentPath()) { QDir::setCurrent(m_dir.path()); }
    ~ScopedWorkDir() { QDir::setCurrent(m_previous); }
    QString path() const { return m_dir.path(); }
    bool isValid() const { return m_dir.isValid(); }

private:
    QTemporaryDir m_dir;
    QString m_previous;
};

QByteArray readBytes(const QString& path); // empty when missing
inline QString readText(const QString& path)
{
    return QString::fromUtf8(readBytes(path));
}
bool writeFile(const QString& path, const QByteArray& bytes); // makes the folder; true when all written
// Set by the test command (empty when unset); a missing peer is a failure when peers are required.
inline QString peer(const char* name)
{
    return qEnvironmentVariable(name);
}
inline bool peersRequired()
{
    return qEnvironmentVariable("TAVIO_REQUIRE_PEERS") == QLatin1String("1");
}
// The sound server's command-line client; true when it succeeded, trimmed output in *output.
bool pactl(const QStringList& arguments, QString* output = nullptr);

} // namespace TestEnv
