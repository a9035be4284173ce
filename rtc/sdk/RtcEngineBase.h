#pragma once

#include "rtc/sdk/IRtcEngine.h"

namespace agora {
namespace rtc {

// Common base of the backends' engines: the static IRtcEngine::release destroys them through
// this public destructor, which must stop every thread that could still raise a callback.
class RtcEngineBase : public IRtcEngine
{
public:
    RtcEngineBase();
    ~RtcEngineBase() override;

    RtcEngineBase(const RtcEngineBase&) = delete;
    RtcEngineBase& operator=(const RtcEngineBase&) = delete;

    // Engines alive, oldest first (only for the release and the factory).
    static RtcEngineBase* takeOldest();
};

} // namespace rtc
} // namespace agora
