#pragma once

#include "rtc/sdk/GstRtcEngine.h"
#include "rtc/sdk/IRtcEngineParameter.h"

namespace agora {
namespace rtc {

// The parameter interface GstRtcEngine hands out: owns nothing; each call, from any thread, goes
// to the engine, which runs it on the SDK thread and returns its code.
class GstEngineParameter : public IRtcEngineParameter
{
public:
    explicit GstEngineParameter(GstRtcEngine* engine) : m_engine(engine) {}
    int setParameters(const char* parameters) override { return m_engine->setParameters(parameters); }
    void release() override { delete this; }

private:
    GstRtcEngine* m_engine = nullptr;
};

} // namespace rtc
} // namespace agora
