#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// Helpers shared by the tests: a private working directory (the program works relative to
// its current directory) and the locations of the peers the test command starts.
namespace TestEnv {

// Changes into a fresh temporary directory for the lifetime of the returned object.
class ScopedWorkDir
{
public:
    ScopedWorkDir();
    ~ScopedWorkDir();
    QString path() const { return m_dir.path(); }
    bool isValid() const { return m_dir.isValid(); }

private:
    QTemporaryDir m_dir;
    QString m_previous;
};

// Reads the whole file (as UTF-8 text); empty when missing.
QByteArray readBytes(const QString& path);
QString readText(const QString& path);
// Writes the whole file, making its folder; true when all of it was written.
bool writeFile(const QString& path, const QByteArray& bytes);

// Value of an environment variable set by the test command, empty when unset.
QString peer(const char* name);

// True when the test command asked for every peer to be present (a missing one is a failure).
bool peersRequired();

// Runs the sound server's command-line client; true when it succeeded, its trimmed output in
// *output when given.
bool pactl(const QStringList& arguments, QString* output = nullptr);

} // namespace TestEnv
