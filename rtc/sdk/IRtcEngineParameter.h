#pragma once

namespace agora {
namespace rtc {

// Engine parameters: obtained from IRtcEngine::queryInterface(kInterfaceEngineParameter).
class IRtcEngineParameter
{
public:
    // One JSON object text per call, e.g. {"che.audio.enable.ns":false}. A text that is not a
    // JSON object, or an unknown key, gives a negative code.
    virtual int setParameters(const char* parameters) = 0;
    // Gives the interface back; the pointer is dead afterwards.
    virtual void release() = 0;

protected:
    virtual ~IRtcEngineParameter() = default;
};

} // namespace rtc
} // namespace agora
