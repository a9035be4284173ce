#include <gst/gst.h>

#include "rtc/sdk/SdkEventLoop.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>

namespace agora {
namespace rtc {

namespace {

gboolean runTaskOnce(gpointer data)
{
    (*static_cast<SdkEventLoop::Task*>(data))();
    return G_SOURCE_REMOVE;
}

gboolean runTaskRepeating(gpointer data)
{
    (*static_cast<SdkEventLoop::Task*>(data))();
    return G_SOURCE_CONTINUE;
}

struct RepeatingTimer
{
    GSource source;
    gint64 intervalUs;
};

gboolean dispatchRepeatingTimer(GSource* source, GSourceFunc callback, gpointer data)
{
    const gint64 intervalUs = reinterpret_cast<RepeatingTimer*>(source)->intervalUs;
    const gint64 nowUs = g_source_get_time(source);
    gint64 nextUs = g_source_get_ready_time(source) + intervalUs;
    // After a held-up loop the missed ticks are skipped, not made up.
    if (nextUs <= nowUs)
        nextUs += ((nowUs - nextUs) / intervalUs + 1) * intervalUs;
    // Before the task, which may remove its own timer.
    g_source_set_ready_time(source, nextUs);
    return callback(data);
}

GSourceFuncs repeatingTimerFuncs = {nullptr, nullptr, dispatchRepeatingTimer, nullptr, nullptr, nullptr};

void deleteTask(gpointer data)
{
    delete static_cast<SdkEventLoop::Task*>(data);
}

gboolean dispatchBusMessage(GstBus*, GstMessage* message, gpointer data)
{
    (*static_cast<SdkEventLoop::BusHandler*>(data))(message);
    return G_SOURCE_CONTINUE;
}

void deleteBusHandler(gpointer data)
{
    delete static_cast<SdkEventLoop::BusHandler*>(data);
}

} // namespace

SdkEventLoop::SdkEventLoop()
{
    m_context = g_main_context_new();
    m_loop = g_main_loop_new(m_context, FALSE);
    std::mutex mutex;
    std::condition_variable started;
    bool running = false;
    m_thread = std::thread([this, &mutex, &started, &running] {
        g_main_context_push_thread_default(m_context);
        {
            std::lock_guard<std::mutex> lock(mutex);
            running = true;
        }
        started.notify_all();
        g_main_loop_run(m_loop);
        g_main_context_pop_thread_default(m_context);
    });
    m_threadId = m_thread.get_id();
    std::unique_lock<std::mutex> lock(mutex);
    started.wait(lock, [&running] { return running; });
}

SdkEventLoop::~SdkEventLoop()
{
    stop();
}

bool SdkEventLoop::isLoopThread() const
{
    return std::this_thread::get_id() == m_threadId;
}

void SdkEventLoop::post(Task task)
{
    GSource* source = g_idle_source_new();
    g_source_set_priority(source, G_PRIORITY_DEFAULT);
    g_source_set_callback(source, runTaskOnce, new Task(std::move(task)), deleteTask);
    g_source_attach(source, m_context);
    g_source_unref(source);
}

void SdkEventLoop::runSync(const Task& task)
{
    if (m_stopped || isLoopThread()) {
        task();
        return;
    }
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    // The waiter is released whether the task ran or was dropped (its holder is destroyed).
    struct Completion
    {
        Completion(std::mutex* m, std::condition_variable* d, bool* f) : mutex(m), done(d), finished(f) {}
        Completion(const Completion&) = delete;
        Completion& operator=(const Completion&) = delete;
        std::mutex* mutex;
        std::condition_variable* done;
        bool* finished;
        ~Completion()
        {
            std::lock_guard<std::mutex> lock(*mutex);
            *finished = true;
            done->notify_all();
        }
    };
    auto completion = std::make_shared<Completion>(&mutex, &done, &finished);
    post([task, completion]() mutable {
        task();
        completion.reset();
    });
    completion.reset();
    std::unique_lock<std::mutex> lock(mutex);
    done.wait(lock, [&finished] { return finished; });
}

std::int64_t SdkEventLoop::firstTickUs(std::int64_t nowUs, std::int64_t intervalUs)
{
    const std::int64_t dueUs = nowUs + intervalUs;
    if (intervalUs <= 0 || intervalUs % kGridUs != 0)
        return dueUs;
    // The multiple of the period nearest to one period from now.
    return (dueUs + intervalUs / 2) / intervalUs * intervalUs;
}

unsigned int SdkEventLoop::addTimer(unsigned int intervalMs, Task task)
{
    GSource* source = g_source_new(&repeatingTimerFuncs, sizeof(RepeatingTimer));
    const gint64 intervalUs = static_cast<gint64>(std::max(1u, intervalMs)) * 1000;
    reinterpret_cast<RepeatingTimer*>(source)->intervalUs = intervalUs;
    g_source_set_ready_time(source, firstTickUs(g_get_monotonic_time(), intervalUs));
    g_source_set_callback(source, runTaskRepeating, new Task(std::move(task)), deleteTask);
    const unsigned int id = g_source_attach(source, m_context);
    g_source_unref(source);
    return id;
}

void SdkEventLoop::removeTimer(unsigned int id)
{
    if (id == 0)
        return;
    GSource* source = g_main_context_find_source_by_id(m_context, id);
    if (source)
        g_source_destroy(source);
}

GSource* SdkEventLoop::addBusWatch(GstBus* bus, BusHandler handler)
{
    GSource* source = gst_bus_create_watch(bus);
    g_source_set_callback(source,
                          reinterpret_cast<GSourceFunc>(reinterpret_cast<void (*)(void)>(dispatchBusMessage)),
                          new BusHandler(std::move(handler)), deleteBusHandler);
    g_source_attach(source, m_context);
    return source;
}

void SdkEventLoop::removeWatch(GSource* source)
{
    if (!source)
        return;
    g_source_destroy(source);
    g_source_unref(source);
}

void SdkEventLoop::stop()
{
    if (m_stopped)
        return;
    m_stopped = true;
    // Quit from inside the loop so that a quit before the loop is running is not lost.
    GMainLoop* loop = m_loop;
    GSource* source = g_idle_source_new();
    g_source_set_priority(source, G_PRIORITY_HIGH);
    g_source_set_callback(
        source,
        [](gpointer data) -> gboolean {
            g_main_loop_quit(static_cast<GMainLoop*>(data));
            return G_SOURCE_REMOVE;
        },
        loop, nullptr);
    g_source_attach(source, m_context);
    g_source_unref(source);
    if (m_thread.joinable())
        m_thread.join();
    g_main_loop_unref(m_loop);
    m_loop = nullptr;
    // Destroys the sources still attached; their tasks are freed without running.
    g_main_context_unref(m_context);
    m_context = nullptr;
}

} // namespace rtc
} // namespace agora
