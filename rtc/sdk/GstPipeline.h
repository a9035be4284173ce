#pragma once

#include <QString>

#include <atomic>
#include <functional>

typedef struct _GstElement GstElement;
typedef struct _GstMessage GstMessage;
typedef struct _GSource GSource;

namespace agora {
namespace rtc {

class SdkEventLoop;

// One pipeline built from a description, with its bus watched on the SDK thread. The first
// error on the bus is reported once and stops the pipeline right away, so that its threads do
// not keep retrying.
class GstPipeline
{
public:
    explicit GstPipeline(SdkEventLoop& loop);
    ~GstPipeline();

    GstPipeline(const GstPipeline&) = delete;
    GstPipeline& operator=(const GstPipeline&) = delete;

    // The first bus error, on the SDK thread, just before the pipeline is stopped.
    std::function<void(const QString& error)> onError;

    // Replaces any previous pipeline; false with the parser's complaint.
    bool build(const QString& description, QString& error);
    // A new reference to the named element (unref it), or null.
    GstElement* element(const char* name) const;
    // Watches the bus and sets the pipeline playing; on failure the error waiting on the bus,
    // else the fallback.
    bool play(const QString& fallback, QString& error);
    void stopWatching();
    // Stops watching, stops the pipeline and lets it go.
    void close();

    GstElement* get() const { return m_pipeline; }
    bool hasFailed() const { return m_failed.load(); }

    // Pipelines built and not yet closed, in the whole process (a leak shows here).
    static int openCount();

private:
    void handleMessage(GstMessage* message);

    SdkEventLoop& m_loop;
    GstElement* m_pipeline = nullptr;
    GSource* m_watch = nullptr;
    std::atomic<bool> m_failed{false};
};

// Text of an error message; empty for other messages.
QString gstErrorText(GstMessage* message);
// Text of the first error waiting on the element's bus, or the fallback when there is none.
QString pendingErrorText(GstElement* element, const QString& fallback);

} // namespace rtc
} // namespace agora
