#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QProcess>
#include <QString>
#include <QStringList>

// Runs one named case of this very test program in a child process (the case ends the process
// through fatalExit); the child finds the case name in TAVIO_FATAL_CASE.
struct FatalChildResult
{
    bool finished = false;
    int exitCode = 0;
    QString errorOutput;
};

inline const char* fatalCaseVariable()
{
    return "TAVIO_FATAL_CASE";
}

inline FatalChildResult runFatalChild(const QString& caseName, const QString& workDir)
{
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QString::fromLatin1(fatalCaseVariable()), caseName);
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    child.setProcessEnvironment(environment);
    child.setWorkingDirectory(workDir);
    child.start(QCoreApplication::applicationFilePath(), QStringList());
    FatalChildResult result;
    result.finished = child.waitForFinished(60000) && child.exitStatus() == QProcess::NormalExit;
    result.exitCode = child.exitCode();
    result.errorOutput = QString::fromUtf8(child.readAllStandardError());
    return result;
}
