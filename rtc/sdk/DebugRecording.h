#pragma once

#include <QString>

#include <functional>
#include <memory>

namespace agora {
namespace rtc {

class GstFedPipeline;
class SdkEventLoop;

// The debug recording the parameters ask for: the captured sound into a WAV file named after
// the caller's (sanitised) name and the time, in the folder given. Owns the recorder while it
// runs and logs its start, failure and end. SDK thread.
class DebugRecording
{
public:
    using Log = std::function<void(const QString& line)>;

    DebugRecording(SdkEventLoop& loop, Log log);

    // Ends a running recording first; false when the new one does not start.
    bool start(const QString& name, const QString& folder);
    // Waits for the end of the stream so that the WAV header carries the real length.
    void stop();
    // The running recorder (a feed target), or null.
    std::shared_ptr<GstFedPipeline> recorder() const { return m_recorder; }
    // Keeps a file name harmless: letters, digits, '-' and '_' only, at most 64 of them.
    static QString safeName(const QString& name);

    // Called after the recorder came or went (what the capture feeds changes).
    std::function<void()> recorderChanged;

private:
    SdkEventLoop& m_loop;
    const Log m_log;
    std::shared_ptr<GstFedPipeline> m_recorder;
    QString m_path;
};

} // namespace rtc
} // namespace agora
