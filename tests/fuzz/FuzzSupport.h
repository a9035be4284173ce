#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>

// Shared set-up of the fuzz targets: one Qt core application for the process, a private working
// folder (the program works relative to its current directory) with the schemas linked in, and
// a message handler that drops the log (a fatal message still ends the run).
namespace FuzzSupport {

inline void dropMessages(QtMsgType type, const QMessageLogContext&, const QString&)
{
    if (type == QtFatalMsg)
        std::abort();
}

inline void setUp(int* argc, char*** argv)
{
    qInstallMessageHandler(&dropMessages);
    new QCoreApplication(*argc, *argv);
    // In memory where there is such a folder: the settings files are synced to disk on every write.
    static QTemporaryDir dir(QDir(QStringLiteral("/dev/shm")).exists()
                                 ? QStringLiteral("/dev/shm/tavio-fuzz-XXXXXX")
                                 : QDir::tempPath() + QStringLiteral("/tavio-fuzz-XXXXXX"));
    QDir::setCurrent(dir.path());
    QFile::link(QStringLiteral(TAVIO_SOURCE_DIR "/protoFiles"), dir.filePath(QStringLiteral("protoFiles")));
}

inline QByteArray bytes(const uint8_t* data, size_t size)
{
    return QByteArray(reinterpret_cast<const char*>(data), int(size));
}

inline void writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(content);
}

} // namespace FuzzSupport

// A target's LLVMFuzzerInitialize when it needs nothing beyond the shared set-up.
#define FUZZ_SHARED_INITIALIZE                                                                               \
    extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)                                             \
    {                                                                                                        \
        FuzzSupport::setUp(argc, argv);                                                                      \
        return 0;                                                                                            \
    }
