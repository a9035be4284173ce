#include "rtc/sdk/DebugRecording.h"

#include "rtc/sdk/GstPcmRecorder.h"
#include "rtc/sdk/GstPluginSet.h"

#include <QDateTime>
#include <QDir>
#include <QRegularExpression>

namespace agora {
namespace rtc {

DebugRecording::DebugRecording(SdkEventLoop& loop, Log log) : m_loop(loop), m_log(std::move(log)) {}

QString DebugRecording::safeName(const QString& name)
{
    QString safe = name;
    safe.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9_-]")), QStringLiteral("_"));
    return safe.isEmpty() ? QStringLiteral("NoName") : safe.left(64);
}

bool DebugRecording::start(const QString& name, const QString& folder)
{
    const QString plugins = GstPluginSet::initializeRecording();
    if (!plugins.isEmpty()) {
        m_log(QStringLiteral("debug recording does not start: %1").arg(plugins));
        return false;
    }
    stop();
    const QString path = QDir(folder).filePath(
        safeName(name) + QLatin1Char('-') +
        QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")) + QStringLiteral(".wav"));
    auto recorder = std::make_shared<GstPcmRecorder>(m_loop, path);
    const Log log = m_log;
    recorder->onError = [log](const QString& error) {
        log(QStringLiteral("debug recording failed: %1").arg(error));
    };
    QString error;
    if (!recorder->start(error)) {
        m_log(QStringLiteral("debug recording to %1 does not start: %2").arg(path, error));
        return false;
    }
    m_recorder = recorder;
    m_path = path;
    if (recorderChanged)
        recorderChanged();
    m_log(QStringLiteral("debug recording to %1").arg(path));
    return true;
}

void DebugRecording::stop()
{
    if (!m_recorder)
        return;
    std::shared_ptr<GstFedPipeline> recorder = std::move(m_recorder);
    m_recorder.reset();
    if (recorderChanged)
        recorderChanged();
    recorder->stop(2000);
    m_log(QStringLiteral("debug recording saved: %1 (%2 frames)").arg(m_path).arg(recorder->pushedFrames()));
}

} // namespace rtc
} // namespace agora
