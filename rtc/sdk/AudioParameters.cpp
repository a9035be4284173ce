#include "rtc/sdk/AudioParameters.h"

#include "rtc/sdk/RtcTypes.h"
#include "rtc/sdk/SdkLog.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

namespace agora {
namespace rtc {

AudioParameters::AudioParameters(SdkEventLoop& loop, SdkLog& log)
    : m_log(log), m_recording(loop, [&log](const QString& line) { log.write(line); })
{
}

int AudioParameters::set(const QByteArray& text)
{
    QJsonParseError parseError{};
    const QJsonDocument document = QJsonDocument::fromJson(text, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject()) {
        m_log.write(
            QStringLiteral("setParameters refused: not a JSON object: %1").arg(QString::fromUtf8(text)));
        return kErrInvalidArgument;
    }
    m_log.write(QStringLiteral("setParameters %1").arg(QString::fromUtf8(text)));
    const QJsonObject object = document.object();
    int result = kOk;
    for (auto it = object.begin(); it != object.end(); ++it) {
        const int code = apply(it.key(), it.value());
        if (code != kOk && result == kOk)
            result = code;
    }
    return result;
}

int AudioParameters::apply(const QString& key, const QJsonValue& value)
{
    static const QStringList switches = {
        QStringLiteral("che.audio.bypass.apm"), QStringLiteral("che.audio.stereo.capture"),
        QStringLiteral("che.audio.enable.aec"), QStringLiteral("che.audio.enable.ns"),
        QStringLiteral("che.audio.enable.agc"), QStringLiteral("che.audio.stop_debug_recording"),
    };
    if (switches.contains(key)) {
        if (!value.isBool()) {
            m_log.write(QStringLiteral("parameter %1 refused: not true or false").arg(key));
            return kErrInvalidArgument;
        }
        m_values.insert(key, value);
        if (key == QLatin1String("che.audio.stop_debug_recording") && value.toBool())
            m_recording.stop();
        return kOk;
    }
    const bool codec = key == QLatin1String("che.audio.specify.codec");
    if (!codec && key != QLatin1String("che.audio.start_debug_recording")) {
        m_log.write(QStringLiteral("parameter %1 is not known; ignored").arg(key));
        return kErrNotSupported;
    }
    if (!value.isString()) {
        m_log.write(QStringLiteral("parameter %1 refused: not a text").arg(key));
        return kErrInvalidArgument;
    }
    if (!codec) {
        const QString logPath = m_log.filePath();
        const QString folder = logPath.isEmpty() ? QDir::currentPath() : QFileInfo(logPath).absolutePath();
        return m_recording.start(value.toString(), folder) ? kOk : kErrFailed;
    }
    m_values.insert(key, value);
    if (value.toString().startsWith(QLatin1String("HEAAC")) && !m_heAacNoted) {
        m_heAacNoted = true;
        m_log.write(QStringLiteral("HE-AAC is not available (no encoder for it); AAC-LC is used instead"));
    }
    return kOk;
}

} // namespace rtc
} // namespace agora
