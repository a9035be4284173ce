#pragma once

#include "rtc/sdk/GstFedPipeline.h"

namespace agora {
namespace rtc {

// The debug recording: captured PCM into a WAV file (its header is completed on stop).
class GstPcmRecorder : public GstFedPipeline
{
public:
    GstPcmRecorder(SdkEventLoop& loop, const QString& path);

    bool start(QString& error);
    QString path() const { return m_path; }

protected:
    bool configure(GstElement* pipeline, QString& error) override;

private:
    QString m_path;
};

} // namespace rtc
} // namespace agora
