#include "rtc/sdk/RtcEngineBase.h"

#include "rtc/sdk/GstRtcEngine.h"

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
RtcEngineBase::EngineFactory& factorySlot()
{
    static RtcEngineBase::EngineFactory factory;
    return factory;
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

void RtcEngineBase::setEngineFactory(EngineFactory factory)
{
    QMutexLocker lock(&registryMutex());
    factorySlot() = std::move(factory);
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
    engine->aboutToRelease(sync);
    // Always synchronous: the destructor joins the engine's threads, so nothing can call the
    // event handler once this returns, whatever the caller asked for.
    delete engine;
}

} // namespace rtc
} // namespace agora

agora::rtc::IRtcEngine* createAgoraRtcEngine()
{
    using namespace agora::rtc;
    RtcEngineBase::EngineFactory factory;
    {
        QMutexLocker lock(&registryMutex());
        factory = factorySlot();
    }
    if (factory)
        return factory();
    return new GstRtcEngine();
}
