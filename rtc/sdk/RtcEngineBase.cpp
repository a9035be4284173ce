#include "rtc/sdk/RtcEngineBase.h"

#include "rtc/sdk/GstRtcEngine.h"
#include "rtc/sdk/ScriptedRtcBackend.h"
#include "rtc/sdk/ScriptedRtcEngine.h"

#include <QMutex>
#include <QMutexLocker>

#include <deque>

namespace agora {
namespace rtc {

namespace {
QMutex& registryMutex()
{
    static QMutex mutex;
    return mutex;
}
std::deque<RtcEngineBase*>& registry()
{
    static std::deque<RtcEngineBase*> engines;
    return engines;
}
} // namespace

RtcEngineBase::RtcEngineBase()
{
    QMutexLocker lock(&registryMutex());
    registry().push_back(this);
}

RtcEngineBase::~RtcEngineBase()
{
    QMutexLocker lock(&registryMutex());
    auto& engines = registry();
    for (auto it = engines.begin(); it != engines.end(); ++it) {
        if (*it == this) {
            engines.erase(it);
            break;
        }
    }
}

int RtcEngineBase::queryInterface(int interfaceId, void** inter)
{
    if (!inter)
        return kErrInvalidArgument;
    *inter = nullptr;
    if (interfaceId == kInterfaceEngineParameter) {
        *inter = createParameter();
        return kOk;
    }
    if (interfaceId == kInterfaceAudioDeviceManager) {
        *inter = createDeviceManager();
        return kOk;
    }
    return kErrNotSupported;
}

RtcEngineBase* RtcEngineBase::takeOldest()
{
    QMutexLocker lock(&registryMutex());
    auto& engines = registry();
    if (engines.empty())
        return nullptr;
    RtcEngineBase* oldest = engines.front();
    engines.pop_front();
    return oldest;
}

void IRtcEngine::release(bool sync)
{
    RtcEngineBase* engine = RtcEngineBase::takeOldest();
    if (!engine)
        return;
    ScriptedRtcEngine* scripted = dynamic_cast<ScriptedRtcEngine*>(engine);
    if (scripted)
        scripted->recordRelease(sync);
    // Always synchronous: the destructor joins the engine's threads, so nothing can call the
    // event handler once this returns, whatever the caller asked for.
    delete engine;
}

} // namespace rtc
} // namespace agora

agora::rtc::IRtcEngine* createAgoraRtcEngine()
{
    using namespace agora::rtc;
    if (ScriptedRtcBackend::isEnabled())
        return new ScriptedRtcEngine();
    return new GstRtcEngine();
}
