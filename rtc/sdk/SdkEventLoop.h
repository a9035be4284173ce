#pragma once

#include <cstdint>
#include <functional>
#include <thread>

typedef struct _GMainContext GMainContext;
typedef struct _GMainLoop GMainLoop;
typedef struct _GstBus GstBus;
typedef struct _GstMessage GstMessage;
typedef struct _GSource GSource;

namespace agora {
namespace rtc {

// The SDK's own thread: a GLib main loop on a private context. Bus messages, timers and every
// callback to the application run here, one at a time.
class SdkEventLoop
{
public:
    using Task = std::function<void()>;
    using BusHandler = std::function<void(GstMessage*)>;

    SdkEventLoop();
    // Stops the thread (see stop()).
    ~SdkEventLoop();

    SdkEventLoop(const SdkEventLoop&) = delete;
    SdkEventLoop& operator=(const SdkEventLoop&) = delete;

    bool isLoopThread() const;

    // Runs the task later on the loop thread; dropped if the loop stops first.
    void post(Task task);
    // Runs the task on the loop thread and waits for it (runs inline on the loop thread).
    void runSync(const Task& task);
    // A repeating timer at a fixed rate; returns its id for removeTimer. A period that is a
    // multiple of kGridUs ticks on the multiples of itself on the monotonic clock, so that the
    // look at the relays, the capture's check and the statistics share the thread's wake-ups
    // whenever each was started (the first tick comes within half a period of one period).
    unsigned int addTimer(unsigned int intervalMs, Task task);
    static constexpr std::int64_t kGridUs = 50000;
    // When a timer of intervalUs added at nowUs (monotonic clock) first ticks.
    static std::int64_t firstTickUs(std::int64_t nowUs, std::int64_t intervalUs);
    void removeTimer(unsigned int id);
    // Delivers the bus's messages to handler on the loop thread until removeWatch(returned source).
    GSource* addBusWatch(GstBus* bus, BusHandler handler);
    static void removeWatch(GSource* source);

    // Ends the loop and joins the thread; pending tasks are dropped, never run. After this
    // returns nothing runs on the loop any more.
    void stop();

private:
    GMainContext* m_context = nullptr;
    GMainLoop* m_loop = nullptr;
    std::thread m_thread;
    std::thread::id m_threadId;
    bool m_stopped = false;
};

} // namespace rtc
} // namespace agora
