#pragma once

#include <QString>

#include <functional>

typedef struct _GstDeviceMonitor GstDeviceMonitor;
typedef struct _GstMessage GstMessage;
typedef struct _GSource GSource;

namespace agora {
namespace rtc {

class SdkEventLoop;

// Follows capture devices appearing and disappearing (GStreamer's device monitor,
// "Audio/Source") and reports each change on the SDK thread.
class GstDeviceWatch
{
public:
    explicit GstDeviceWatch(SdkEventLoop& loop);
    ~GstDeviceWatch();

    GstDeviceWatch(const GstDeviceWatch&) = delete;
    GstDeviceWatch& operator=(const GstDeviceWatch&) = delete;

    // id of the device, true when it appeared, false when it went.
    std::function<void(const QString& id, bool present)> onChange;

    // On the SDK thread; false when there is nothing to watch (no sound server).
    bool start();
    void stop();
    // The running monitor, or null.
    GstDeviceMonitor* monitor() const { return m_monitor; }

private:
    void handleMessage(GstMessage* message);

    SdkEventLoop& m_loop;
    GstDeviceMonitor* m_monitor = nullptr;
    GSource* m_watch = nullptr;
};

} // namespace rtc
} // namespace agora
