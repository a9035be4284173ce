#pragma once

#include "rtc/sdk/DebugRecording.h"

#include <QJsonValue>
#include <QMap>
#include <QString>

namespace agora {
namespace rtc {

// The parameter keys setParameters knows: checks each value, keeps the audio switches and the
// codec wish (noting once that HE-AAC falls back to AAC-LC) and starts or stops the debug
// recording beside the SDK log. Writes its lines into that log. SDK thread only.
class SdkLog;

class AudioParameters
{
public:
    AudioParameters(SdkEventLoop& loop, SdkLog& log);

    // A setParameters text (a JSON object); the SDK's return code, the first failure's.
    int set(const QByteArray& text);
    // One key of such an object.
    int apply(const QString& key, const QJsonValue& value);
    DebugRecording& recording() { return m_recording; }

private:
    SdkLog& m_log;
    DebugRecording m_recording;
    QMap<QString, QJsonValue> m_values;
    bool m_heAacNoted = false;
};

} // namespace rtc
} // namespace agora
