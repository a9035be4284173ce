#pragma once

#include <QtGlobal>

#include <functional>

namespace agora {
namespace rtc {

// Monotonic milliseconds for the SDK's own schedules (relay reconnects). Tests replace the
// source to move time; an empty source restores the real clock. Any thread.
class SdkClock
{
public:
    using Source = std::function<qint64()>;

    static qint64 nowMs();
    static void setSource(Source source);
};

} // namespace rtc
} // namespace agora
